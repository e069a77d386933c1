#include "config/dialogs/pwd_dlg.h"

#include <QLineEdit>
#include <QTimer>
#include <QValidator>

#include <cstring>

#include "ui/message_box.h"
#include "ui/resource.h"

namespace {

// Accepts a text as long as its UTF-8 form fits; QLineEdit then refuses a
// keystroke or paste that would make it longer, rather than cutting it. It
// remembers how long the last accepted and the last refused text were, so
// that a refused paste can be told from one key too many.
class CByteLengthValidator final : public QValidator
{
public:
    CByteLengthValidator(std::size_t maxBytes, QObject* pParent) : QValidator(pParent), m_maxBytes(maxBytes)
    {
    }

    State validate(QString& input, int&) const override
    {
        if (static_cast<std::size_t>(input.toUtf8().size()) <= m_maxBytes) {
            m_nAcceptedLength = input.size();
            return Acceptable;
        }
        m_nRefusedLength = input.size();
        return Invalid;
    }

    // More than one character past the text the field keeps.
    bool RefusedMoreThanAKey() const { return m_nRefusedLength > m_nAcceptedLength + 1; }

private:
    std::size_t m_maxBytes;
    mutable qsizetype m_nAcceptedLength = 0;
    mutable qsizetype m_nRefusedLength = 0;
};

QString TooLongText()
{
    return QStringLiteral("Das Kennwort ist zu lang (h\u00f6chstens %1 Zeichen).")
        .arg(CPwdDlg::PWD_MAX_BYTES);
}

}  // namespace

CPwdDlg::CPwdDlg(QWidget* pParent) : CStyleDialog(IDD_PWD_DIALOG, pParent)
{
    for (int nId : {IDC_PASSWORD, IDC_PASSWORD_REPEAT}) {
        auto* pEdit = DlgItem<QLineEdit>(nId);
        if (!pEdit)
            continue;
        auto* pValidator = new CByteLengthValidator(PWD_MAX_BYTES, pEdit);
        pEdit->setValidator(pValidator);
        // Typing simply stops at the limit; a paste that is refused whole
        // would otherwise vanish without a word. The box comes after the
        // key or paste event has been handled, not inside it.
        connect(pEdit, &QLineEdit::inputRejected, this, [this, pValidator] {
            if (pValidator->RefusedMoreThanAKey())
                QTimer::singleShot(0, this, [this] { AppMessageBox(this, TooLongText()); });
        });
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
        AppMessageBox(this, TooLongText());
        GotoDlgCtrl(IDC_PASSWORD);
        return;
    }
    std::memcpy(m_szPassword, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    m_szPassword[bytes.size()] = '\0';
    EndDialog(IDOK);
}
