#include "ui/resources.h"

#include "ui/dialog_template.h"
#include "ui/resource.h"

QIcon LoadAppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/vindle/icon_%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap LoadBitmapResource(int nId, qreal devicePixelRatio)
{
    if (nId != IDB_BANNER)
        return {};
    if (devicePixelRatio > 1.0) {
        QPixmap fine(QStringLiteral(":/vindle/banner@2x.png"));
        if (!fine.isNull()) {
            fine.setDevicePixelRatio(2.0);
            return fine;
        }
    }
    return QPixmap(QStringLiteral(":/vindle/banner.png"));
}

QString LoadStringResource(int nId)
{
    const char* psz = FindStringResource(nId);
    return psz ? QString::fromUtf8(psz) : QString();
}
