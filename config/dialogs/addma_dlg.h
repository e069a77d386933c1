// CAddMADlg: the address of a box that discovery did not find (template
// 137). After IDOK the caller reads m_dwIp.
#pragma once

#include <cstdint>

#include "ui/style_dialog.h"

class CAddMADlg final : public CStyleDialog
{
    Q_OBJECT

public:
    explicit CAddMADlg(QWidget* pParent = nullptr);

    // Starts with a blank address field.
    bool OnInitDialog() override;
    // Reads the address as typed (blank fields as 0) and ends with IDOK.
    void OnOK() override;

    // IPv4 value in network byte order.
    std::uint32_t m_dwIp = 0;
};
