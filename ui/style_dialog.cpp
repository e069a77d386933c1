// The banner is loaded per dialog and released with it; Qt's implicit
// sharing keeps the pixel data once however many dialogs are open.
#include "ui/style_dialog.h"

#include <QLabel>
#include <QPainter>
#include <QPalette>

#include "ui/resources.h"

CStyleDialog::CStyleDialog(int nTemplateId, QWidget* pParent)
    : CDialog(nTemplateId, pParent)
    , m_brBackground(QColor::fromRgb(BACKGROUND_COLOUR))
{
    // Controls that fill their background with the window colour (the
    // IP address dots, the banner's surroundings) see white as well.
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, m_brBackground);
    setPalette(pal);
}

CStyleDialog::~CStyleDialog() = default;

bool CStyleDialog::OnInitDialog()
{
    const bool bResult = CDialog::OnInitDialog();
    m_bmBanner = LoadBitmapResource(IDB_BANNER, devicePixelRatioF());
    if (auto* pBanner = DlgItem<QLabel>(IDC_BANNER)) {
        pBanner->setPixmap(m_bmBanner);
        pBanner->resize(m_bmBanner.deviceIndependentSize().toSize());
    }
    for (QWidget* pCtrl : Controls()) {
        const int nId = CtrlId(pCtrl);
        if ((nId == IDC_STATIC || IsStyledCtrl(nId)) && nId != IDC_BANNER)
            ApplyLabelStyle(pCtrl);
    }
    return bResult;
}

bool CStyleDialog::IsStyledCtrl(int) const
{
    return false;
}

void CStyleDialog::ApplyLabelStyle(QWidget* pCtrl)
{
    if (!pCtrl)
        return;
    QPalette pal = pCtrl->palette();
    pal.setColor(QPalette::WindowText, QColor::fromRgb(LABEL_COLOUR));
    pal.setColor(QPalette::Text, QColor::fromRgb(LABEL_COLOUR));
    pCtrl->setPalette(pal);
    pCtrl->setAutoFillBackground(false);
}

void CStyleDialog::paintEvent(QPaintEvent* pEvent)
{
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_brBackground);
    }
    CDialog::paintEvent(pEvent);
}
