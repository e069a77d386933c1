#include "config/dialogs/pwd_dlg.h"

#include <QLineEdit>
#include <QValidator>

#include <cstring>

#include "ui/message_box.h"
#include "ui/resource.h"

namespace {

// Accepts a text as long as its UTF-8 form fits; QLineEdit then refuses a
// keystroke or paste that would make it longer, rather than cutting it.
class CByteLengthValidator final : public QValidator {
public:
    CByteLengthValidator(std::size_t maxBytes, QObject* pParent)
        : QValidator(pParent)
        , m_maxBytes(maxBytes)
    {
    }

    State validate(QString& input, int&) const override
    {
        return static_cast<std::size_t>(input.toUtf8().size()) <= m_maxBytes ? Acceptable : Invalid;
    }

private:
    std::size_t m_maxBytes;
};

}  // namespace

CPwdDlg::CPwdDlg(QWidget* pParent)
    : CStyleDialog(IDD_PWD_DIALOG, pParent)
{
    for (int nId : {IDC_PASSWORD, IDC_PASSWORD_REPEAT}) {
        if (auto* pEdit = DlgItem<QLineEdit>(nId))
            pEdit->setValidator(new CByteLengthValidator(PWD_MAX_BYTES, pEdit));
    }
}

bool CPwdDlg::OnInitDialog()
{
    return CStyleDialog::OnInitDialog();
}

void CPwdDlg::OnOK()
{
    const QString first = GetDlgItemText(IDC_PASSWORD);
    const QString second = GetDlgItemText(IDC_PASSWORD_REPEAT);
    m_szPassword[0] = '\0';

    if (first != second) {
        SetDlgItemText(IDC_PASSWORD, QString());
        SetDlgItemText(IDC_PASSWORD_REPEAT, QString());
        AppMessageBox(this, QStringLiteral("Die Kennw\u00f6rter sind unterschiedlich!"));
        GotoDlgCtrl(IDC_PASSWORD);
        return;
    }

    // Text set from outside bypasses the validator; refuse it here too.
    const QByteArray bytes = first.toUtf8();
    if (static_cast<std::size_t>(bytes.size()) > PWD_MAX_BYTES) {
        AppMessageBox(this, QStringLiteral("Das Kennwort ist zu lang (h\u00f6chstens %1 Zeichen).")
                                .arg(PWD_MAX_BYTES));
        GotoDlgCtrl(IDC_PASSWORD);
        return;
    }
    std::memcpy(m_szPassword, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    m_szPassword[bytes.size()] = '\0';
    EndDialog(IDOK);
}
