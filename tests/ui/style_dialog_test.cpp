#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ui/qt_test_support.h"
#include "ui/ip_address_ctrl.h"
#include "ui/resources.h"
#include "ui/style_dialog.h"

namespace {

const QColor GREEN = QColor::fromRgb(0x00FF00);

class CStatusStyledDlg : public CStyleDialog
{
public:
    CStatusStyledDlg() : CStyleDialog(IDD_VINDLE_DIALOG) {}
    bool IsStyledCtrl(int nId) const override { return nId == IDC_CONN_STATUS; }
};

// Pure green text drawn without a background on white gives only blends of
// the two: green at full strength, red equal to blue. Any other text colour
// or background breaks that. Returns whether that holds for every pixel of
// r below the banner and whether some pixel is at least half green.
struct LabelPixels
{
    bool bOnlyGreenOnWhite = true;
    bool bHasText = false;
};

LabelPixels CheckLabelPixels(const QImage& image, const QRect& r)
{
    LabelPixels result;
    for (int y = std::max(r.top(), 57); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() != 255 || c.red() != c.blue())
                result.bOnlyGreenOnWhite = false;
            if (c.green() == 255 && c.red() < 128)
                result.bHasText = true;
        }
    }
    return result;
}

}  // namespace

TEST(StyleDialog, LabelsArePureGreenOnWhiteAndOtherControlsKeepTheirColours)
{
    for (int nTemplate :
         {IDD_ABOUTBOX, IDD_VINDLE_DIALOG, IDD_CFG_DIALOG, IDD_PWD_DIALOG, IDD_ADDMA_DIALOG}) {
        SCOPED_TRACE(nTemplate);
        CStyleDialog dlg(nTemplate);
        dlg.ShowModeless();
        QApplication::processEvents();
        const QImage shot = dlg.grab().toImage();
        // A corner of the client area, away from the border and the banner.
        EXPECT_EQ(shot.pixelColor(shot.width() - 5, shot.height() - 5), QColor(Qt::white));
        int nLabels = 0;
        for (QWidget* pCtrl : dlg.Controls()) {
            const bool bLabel = CDialog::CtrlId(pCtrl) == IDC_STATIC && qobject_cast<QLabel*>(pCtrl) &&
                                !static_cast<QLabel*>(pCtrl)->text().isEmpty();
            if (bLabel) {
                ++nLabels;
                EXPECT_EQ(pCtrl->palette().color(QPalette::WindowText), GREEN);
                EXPECT_FALSE(pCtrl->autoFillBackground());
                const QRect area(pCtrl->mapTo(&dlg, QPoint(0, 0)), pCtrl->size());
                const LabelPixels pixels = CheckLabelPixels(shot, area);
                EXPECT_TRUE(pixels.bOnlyGreenOnWhite) << pCtrl->property("text").toString().toStdString();
                EXPECT_TRUE(pixels.bHasText) << pCtrl->property("text").toString().toStdString();
            } else if (qobject_cast<QPushButton*>(pCtrl) || qobject_cast<QLineEdit*>(pCtrl) ||
                       qobject_cast<CIpAddressCtrl*>(pCtrl)) {
                EXPECT_NE(pCtrl->palette().color(QPalette::ButtonText), GREEN);
                EXPECT_NE(pCtrl->palette().color(QPalette::Text), GREEN);
            }
        }
        EXPECT_GT(nLabels, 0);
    }
}

TEST(StyleDialog, IsStyledCtrlColoursAControlWithAnId)
{
    CStyleDialog plain(IDD_VINDLE_DIALOG);
    plain.OnInitDialog();
    EXPECT_NE(plain.GetDlgItem(IDC_CONN_STATUS)->palette().color(QPalette::WindowText), GREEN);
    EXPECT_FALSE(plain.IsStyledCtrl(IDC_CONN_STATUS));

    CStatusStyledDlg styled;
    styled.OnInitDialog();
    EXPECT_EQ(styled.GetDlgItem(IDC_CONN_STATUS)->palette().color(QPalette::WindowText), GREEN);
}

TEST(StyleDialog, BannerShowsAtItsOwnSizeFromTheTopLeft)
{
    const QImage banner = LoadBitmapResource(IDB_BANNER).toImage();
    ASSERT_EQ(banner.size(), QSize(1300, 56));
    EXPECT_EQ(banner.depth() == 24 || banner.format() == QImage::Format_RGB32, true);

    CStyleDialog dlg(IDD_PWD_DIALOG);
    dlg.ShowModeless();
    QApplication::processEvents();
    auto* pBanner = dlg.DlgItem<QLabel>(IDC_BANNER);
    ASSERT_NE(pBanner, nullptr);
    EXPECT_EQ(pBanner->size(), QSize(1300, 56));
    EXPECT_EQ(pBanner->pixmap().size(), QSize(1300, 56));
    EXPECT_LT(dlg.width(), 1300);

    // Unscaled: the dialog's pixels under the banner are the banner's own
    // pixels, offset only by the border.
    const QImage shot = dlg.grab().toImage();
    const QPoint origin = pBanner->mapTo(&dlg, QPoint(0, 0));
    for (const QPoint p : {QPoint(0, 0), QPoint(40, 30), QPoint(dlg.width() - 10, 20), QPoint(100, 51)}) {
        SCOPED_TRACE(p.x());
        EXPECT_EQ(shot.pixelColor(origin + p), banner.pixelColor(p));
    }
}

TEST(StyleDialog, NothingMovesWhenTheWindowChangesSize)
{
    CStyleDialog dlg(IDD_VINDLE_DIALOG);
    dlg.ShowModeless();
    QApplication::processEvents();
    std::vector<QRect> before;
    for (QWidget* pCtrl : dlg.Controls())
        before.push_back(pCtrl->geometry());
    const QSize size = dlg.size();

    dlg.resize(size * 2);
    dlg.showMinimized();
    dlg.showNormal();
    QApplication::processEvents();

    EXPECT_EQ(dlg.size(), size);
    for (qsizetype i = 0; i < dlg.Controls().size(); ++i)
        EXPECT_EQ(dlg.Controls()[i]->geometry(), before[static_cast<std::size_t>(i)]);
}

TEST(StyleDialog, OpeningAndClosingRepeatedlyLeavesNothingBehind)
{
    const auto widgetsBefore = QApplication::allWidgets().size();
    for (int i = 0; i < 30; ++i) {
        CStyleDialog dlg(IDD_CFG_DIALOG);
        const int nResult = RunModal(dlg, [&] { dlg.EndDialog(IDCANCEL); });
        ASSERT_EQ(nResult, IDCANCEL);
        EXPECT_FALSE(dlg.BannerBitmap().isNull());
    }
    QApplication::processEvents();
    EXPECT_EQ(QApplication::allWidgets().size(), widgetsBefore);
}
