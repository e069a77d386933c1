// Four octet fields behaving like one entry: digits only, values limited to
// 255, the cursor moves on after three digits or a dot and back with
// Backspace at the start of a field.
#include "ui/ip_address_ctrl.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStringList>

#include <algorithm>
#include <cstring>

std::uint32_t IpNetFromCtrl(std::uint32_t dwCtrl)
{
    const std::uint8_t octets[4] = {
        static_cast<std::uint8_t>(dwCtrl >> 24), static_cast<std::uint8_t>(dwCtrl >> 16),
        static_cast<std::uint8_t>(dwCtrl >> 8), static_cast<std::uint8_t>(dwCtrl)};
    std::uint32_t dwNet = 0;
    static_assert(sizeof dwNet == sizeof octets);
    std::memcpy(&dwNet, octets, sizeof dwNet);
    return dwNet;
}

std::uint32_t IpCtrlFromNet(std::uint32_t dwNet)
{
    std::uint8_t octets[4];
    std::memcpy(octets, &dwNet, sizeof octets);
    return (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
           (std::uint32_t{octets[2]} << 8) | std::uint32_t{octets[3]};
}

CIpAddressCtrl::CIpAddressCtrl(QWidget* pParent) : QFrame(pParent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    auto* pValidator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        auto* pField = new QLineEdit(this);
        pField->setFrame(false);
        pField->setAlignment(Qt::AlignCenter);
        pField->setValidator(pValidator);
        pField->setMaxLength(3);
        pField->installEventFilter(this);
        pField->setObjectName(QStringLiteral("octet%1").arg(i));
        // Tab enters at the first field and then leaves the whole control,
        // as on the platform's own address control; the other fields are
        // reached by typing and clicking.
        pField->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        const int nField = static_cast<int>(i);
        connect(pField, &QLineEdit::textEdited, this, [this, nField] { OnFieldEdited(nField); });
        connect(pField, &QLineEdit::textChanged, this, &CIpAddressCtrl::addressChanged);
        m_fields[i] = pField;
        if (i + 1 < m_fields.size()) {
            auto* pDot = new QLabel(QStringLiteral("."), this);
            pDot->setAlignment(Qt::AlignCenter);
            pDot->setBackgroundRole(QPalette::Base);
            pDot->setForegroundRole(QPalette::Text);
            m_dots[i] = pDot;
        }
    }
    setFocusProxy(m_fields[0]);
}

void CIpAddressCtrl::SetAddress(std::uint32_t dwCtrl)
{
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setText(QString::number((dwCtrl >> (24 - 8 * i)) & 0xFF));
}

int CIpAddressCtrl::GetAddress(std::uint32_t& dwCtrl) const
{
    dwCtrl = 0;
    int nFilled = 0;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const QString text = m_fields[i]->text();
        if (text.isEmpty())
            continue;
        ++nFilled;
        const std::uint32_t octet = std::min(text.toUInt(), 255u);
        dwCtrl |= octet << (24 - 8 * i);
    }
    return nFilled;
}

void CIpAddressCtrl::ClearAddress()
{
    for (QLineEdit* pField : m_fields)
        pField->clear();
}

bool CIpAddressCtrl::IsBlank() const
{
    for (QLineEdit* pField : m_fields) {
        if (!pField->text().isEmpty())
            return false;
    }
    return true;
}

QString CIpAddressCtrl::Text() const
{
    if (IsBlank())
        return {};
    std::uint32_t dwCtrl = 0;
    GetAddress(dwCtrl);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(dwCtrl >> 24)
        .arg((dwCtrl >> 16) & 0xFF)
        .arg((dwCtrl >> 8) & 0xFF)
        .arg(dwCtrl & 0xFF);
}

void CIpAddressCtrl::SetText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        QString part =
            i < static_cast<std::size_t>(parts.size()) ? parts[static_cast<int>(i)].trimmed() : QString();
        bool bNumber = false;
        const uint value = part.toUInt(&bNumber);
        m_fields[i]->setText(bNumber ? QString::number(std::min(value, 255u)) : QString());
    }
}

void CIpAddressCtrl::SetFieldFocus(int nField)
{
    QLineEdit* pField = Field(nField);
    pField->setFocus(Qt::OtherFocusReason);
    pField->selectAll();
}

void CIpAddressCtrl::OnFieldEdited(int nField)
{
    QLineEdit* pField = Field(nField);
    const QString text = pField->text();
    if (text.isEmpty())
        return;
    if (text.toUInt() > 255)
        pField->setText(QStringLiteral("255"));
    if (text.size() == 3 && nField + 1 < static_cast<int>(m_fields.size()))
        SetFieldFocus(nField + 1);
}

bool CIpAddressCtrl::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() != QEvent::KeyPress)
        return QFrame::eventFilter(pWatched, pEvent);
    int nField = -1;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i] == pWatched)
            nField = static_cast<int>(i);
    }
    if (nField < 0)
        return QFrame::eventFilter(pWatched, pEvent);

    const auto* pKey = static_cast<QKeyEvent*>(pEvent);
    QLineEdit* pField = m_fields[static_cast<std::size_t>(nField)];
    const int nLast = static_cast<int>(m_fields.size()) - 1;
    switch (pKey->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        if (!pField->text().isEmpty() && nField < nLast)
            SetFieldFocus(nField + 1);
        return true;
    case Qt::Key_Backspace:
        if (pField->cursorPosition() == 0 && !pField->hasSelectedText() && nField > 0) {
            QLineEdit* pPrev = Field(nField - 1);
            pPrev->setFocus(Qt::OtherFocusReason);
            pPrev->end(false);
            return true;
        }
        break;
    case Qt::Key_Left:
        if (pField->cursorPosition() == 0 && nField > 0) {
            Field(nField - 1)->setFocus(Qt::OtherFocusReason);
            Field(nField - 1)->end(false);
            return true;
        }
        break;
    case Qt::Key_Right:
        if (pField->cursorPosition() == pField->text().size() && nField < nLast) {
            Field(nField + 1)->setFocus(Qt::OtherFocusReason);
            Field(nField + 1)->home(false);
            return true;
        }
        break;
    default:
        break;
    }
    return QFrame::eventFilter(pWatched, pEvent);
}

void CIpAddressCtrl::resizeEvent(QResizeEvent* pEvent)
{
    QFrame::resizeEvent(pEvent);
    LayOut();
}

void CIpAddressCtrl::LayOut()
{
    const QRect inner = contentsRect().adjusted(2, 1, -2, -1);
    const int dotWidth = fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2;
    const int fieldWidth = (inner.width() - 3 * dotWidth) / 4;
    int x = inner.x();
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        m_fields[i]->setGeometry(x, inner.y(), fieldWidth, inner.height());
        x += fieldWidth;
        if (i < m_dots.size()) {
            m_dots[i]->setGeometry(x, inner.y(), dotWidth, inner.height());
            x += dotWidth;
        }
    }
}
