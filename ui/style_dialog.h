// CStyleDialog: the common look of every Vindle dialog. A white background,
// the banner bitmap in control 1005 at its own size from the top-left corner
// (a narrower dialog shows its left part; it is never scaled), and text
// labels (id -1, or any id IsStyledCtrl accepts) in pure green without a
// background of their own. Every other control keeps the platform's colours.
// User-interface thread only.
#pragma once

#include <QBrush>
#include <QColor>
#include <QPixmap>

#include "ui/dialog.h"

class CStyleDialog : public CDialog
{
    Q_OBJECT

public:
    static constexpr QRgb LABEL_COLOUR = 0x00FF00;       // pure green
    static constexpr QRgb BACKGROUND_COLOUR = 0xFFFFFF;  // white

    explicit CStyleDialog(int nTemplateId, QWidget* pParent = nullptr);
    ~CStyleDialog() override;

    // Loads the banner into control 1005 and colours the labels.
    bool OnInitDialog() override;
    // Whether a control with an id of its own is coloured like a label.
    virtual bool IsStyledCtrl(int nId) const;

    // Colours one control like a label: green text, transparent background.
    static void ApplyLabelStyle(QWidget* pCtrl);

    const QBrush& BackgroundBrush() const { return m_brBackground; }
    const QPixmap& BannerBitmap() const { return m_bmBanner; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QBrush m_brBackground;
    QPixmap m_bmBanner;
};
