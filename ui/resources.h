// Access to Vindle's compiled-in resources: the application icon (128), the
// banner bitmap (132) and the string table.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Icon resource 128 in all its sizes (16 to 256 pixels).
QIcon LoadAppIcon();
// Bitmap resource nId for a screen of the given device pixel ratio: the
// 1300 x 56 banner, or its twice-as-fine drawing on a 2x screen (the logical
// size stays 1300 x 56). A null pixmap for an unknown id.
QPixmap LoadBitmapResource(int nId, qreal devicePixelRatio = 1.0);
// String resource nId; empty when there is none.
QString LoadStringResource(int nId);
