// CPwdDlg: a new password for the box, typed twice (template 136). After
// IDOK m_szPassword holds it as UTF-8, NUL-terminated.
//
// The password travels inside a command built in a 256-byte buffer, which
// leaves room for PWD_MAX_BYTES bytes of password. The fields therefore take
// no more than that (typing stops, a longer paste is refused as a whole
// with a message), and OnOK refuses a longer text with a message instead of
// cutting it.
#pragma once

#include <cstddef>

#include "ui/style_dialog.h"

class CPwdDlg final : public CStyleDialog
{
    Q_OBJECT

public:
    static constexpr std::size_t PWD_MAX_BYTES = 226;

    explicit CPwdDlg(QWidget* pParent = nullptr);

    bool OnInitDialog() override;
    // Equal texts (exactly, case-sensitive) end the dialog with IDOK; two
    // empty fields are equal. Different texts empty both fields, say so and
    // keep the dialog open.
    void OnOK() override;

    char m_szPassword[256] = {};
};
