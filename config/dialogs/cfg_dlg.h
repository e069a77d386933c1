// CCfgDlg: the IP settings of one box (template 129). The caller presets the
// three members, runs DoModal and, after IDOK, reads them back.
#pragma once

#include <cstdint>

#include "ui/style_dialog.h"

class CCfgDlg final : public CStyleDialog
{
    Q_OBJECT

public:
    explicit CCfgDlg(QWidget* pParent = nullptr);

    // Shows every member that is not 0; a member of 0 leaves its field blank.
    bool OnInitDialog() override;
    // Reads the three fields as typed (blank fields as 0) and ends with IDOK.
    void OnOK() override;

    // IPv4 values in network byte order (first octet in the lowest byte).
    std::uint32_t m_dwIp = 0;
    std::uint32_t m_dwNetmask = 0;
    std::uint32_t m_dwGateway = 0;
};
