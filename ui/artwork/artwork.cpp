// vindle-artwork: draws Vindle's banner (bitmap 132) and application icon
// (icon 128) and writes them as PNG files into the folder given as the only
// argument. The drawings are ours; the PNGs it writes are committed under
// ui/resources/ so that a build does not depend on the fonts of the machine.
//
//   vindle-artwork ui/resources
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

namespace {

const QColor DEEP(0x0b, 0x2a, 0x4a);
const QColor OCEAN(0x13, 0x5d, 0x8c);
const QColor TEAL(0x1f, 0x9c, 0xa8);
const QColor LIGHT_GREEN(0x3c, 0xd0, 0x5a);

// A small appliance: a rounded case with a row of status lights.
void DrawBox(QPainter& p, const QRectF& r, bool bDetail)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawRoundedRect(r, r.height() * 0.18, r.height() * 0.18);
    const qreal led = r.height() * 0.22;
    const qreal y = r.center().y() - led / 2;
    for (int i = 0; i < 3; ++i) {
        p.setBrush(i == 0 ? LIGHT_GREEN : QColor(0x9a, 0xb4, 0xc8));
        p.drawEllipse(QRectF(r.left() + r.height() * 0.28 + i * led * 1.7, y, led, led));
    }
    if (bDetail) {
        p.setBrush(QColor(0x9a, 0xb4, 0xc8));
        const qreal slot = r.height() * 0.12;
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(r.right() - r.height() * 0.3 - i * slot * 2.2, r.top() + r.height() * 0.3, slot,
                              r.height() * 0.4));
    }
}

// Radio arcs above a point, as a box announcing itself on the network.
void DrawArcs(QPainter& p, const QPointF& c, qreal radius, qreal width, int count)
{
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= count; ++i) {
        QPen pen(QColor(255, 255, 255, 255 - i * 45), width, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        const qreal r = radius * i;
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
}

QImage DrawBanner(int scale)
{
    const int w = 1300 * scale;
    const int h = 56 * scale;
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);

    // The band: deep blue at the left, lighter towards the right, ending in
    // white so that the banner blends into wide windows.
    const QRectF band(0, 0, 1300, 50);
    QLinearGradient sky(0, 0, 1300, 0);
    sky.setColorAt(0.0, DEEP);
    sky.setColorAt(0.35, OCEAN);
    sky.setColorAt(0.75, TEAL);
    sky.setColorAt(1.0, QColor(0xd8, 0xf0, 0xf2));
    p.fillRect(band, sky);

    // A faint mesh of nodes: the boxes on the operator's segment.
    std::uint32_t seed = 0x5eed1234u;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<qreal>(seed >> 8) / static_cast<qreal>(1u << 24);
    };
    QPointF nodes[64];
    for (int i = 0; i < 64; ++i)
        nodes[i] = QPointF(380 + i * 15.0 + next() * 14, 6 + next() * 38);
    for (int i = 0; i < 64; ++i) {
        for (int j = i + 1; j < std::min(64, i + 4); ++j) {
            const QPointF d = nodes[j] - nodes[i];
            if (std::hypot(d.x(), d.y()) > 48)
                continue;
            const int alpha = static_cast<int>(70 * (1.0 - nodes[i].x() / 1400));
            p.setPen(QPen(QColor(255, 255, 255, alpha), 1.0));
            p.drawLine(nodes[i], nodes[j]);
        }
    }
    for (int i = 0; i < 64; ++i) {
        const int alpha = static_cast<int>(150 * (1.0 - nodes[i].x() / 1400));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, alpha));
        const qreal r = 1.4 + next() * 1.4;
        p.drawEllipse(nodes[i], r, r);
    }

    // A soft glow behind the emblem.
    QRadialGradient glow(QPointF(30, 25), 40);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(30, 25), 40, 40);

    DrawBox(p, QRectF(12, 26, 36, 14), true);
    DrawArcs(p, QPointF(30, 28), 6.5, 2.0, 3);

    // The product name.
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(19);
    name.setBold(true);
    p.setFont(name);
    p.setPen(Qt::white);
    p.drawText(QPointF(60, 25), QStringLiteral("Orvex"));
    const qreal nameWidth = QFontMetricsF(name).horizontalAdvance(QStringLiteral("Orvex "));
    QFont light(name);
    light.setBold(false);
    p.setFont(light);
    p.setPen(QColor(0xcf, 0xe8, 0xf5));
    p.drawText(QPointF(60 + nameWidth, 25), QStringLiteral("Maintenance"));

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(10);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    p.setFont(small);
    p.setPen(QColor(0xb8, 0xd8, 0xea));
    p.drawText(QPointF(61, 41), QStringLiteral("FINDEN \u00b7 EINRICHTEN \u00b7 AKTUALISIEREN"));

    // The accent line between the band and the dialog.
    QLinearGradient accent(0, 0, 1300, 0);
    accent.setColorAt(0.0, LIGHT_GREEN);
    accent.setColorAt(0.6, QColor(0x8c, 0xe0, 0x9c));
    accent.setColorAt(1.0, QColor(0xe6, 0xf7, 0xe9));
    p.fillRect(QRectF(0, 50, 1300, 2), accent);
    p.end();

    return image.convertToFormat(QImage::Format_RGB888);
}

QImage DrawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF tile(s * 0.03, s * 0.03, s * 0.94, s * 0.94);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, OCEAN);
    fill.setColorAt(1, DEEP);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, s * 0.2, s * 0.2);

    if (size <= 16) {
        // Too small for arcs: the box alone, large.
        DrawBox(p, QRectF(s * 0.12, s * 0.34, s * 0.76, s * 0.34), false);
    } else {
        DrawBox(p, QRectF(s * 0.16, s * 0.56, s * 0.68, s * 0.24), size >= 48);
        DrawArcs(p, QPointF(s * 0.5, s * 0.58), s * 0.12, std::max(1.5, s * 0.05), 3);
    }
    p.end();
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vindle-artwork OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool bOk = DrawBanner(1).save(out.filePath(QStringLiteral("banner.png")));
    bOk = DrawBanner(2).save(out.filePath(QStringLiteral("banner@2x.png"))) && bOk;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        bOk = DrawIcon(size).save(out.filePath(QStringLiteral("icon_%1.png").arg(size))) && bOk;
    if (!bOk) {
        std::fprintf(stderr, "vindle-artwork: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
