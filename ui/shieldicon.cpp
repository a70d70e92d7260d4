#include "ui/shieldicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
QPixmap badged(const QPixmap &shield, StatusLine::Tray state)
{
    using StatusLine::Tray;
    QPixmap pixmap = shield;
    const qreal size = pixmap.width() / pixmap.devicePixelRatio();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (state == Tray::NotProtected) {
        // A shield that no longer protects: greyed, so the badge alone carries colour.
        QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int grey = qGray(line[x]);
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
            }
        }
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    // The badge takes the lower right; at 16 pixels more than half, or it could not be told apart.
    const qreal diameter = size <= 16 ? size * 0.62 : size * 0.5;
    const QRectF badge(size - diameter, size - diameter, diameter, diameter);
    painter.setPen(QPen(Qt::white, qMax<qreal>(1.0, diameter / 12)));
    painter.setBrush(ShieldIcon::badgeColour(state));
    painter.drawEllipse(badge.adjusted(0.5, 0.5, -0.5, -0.5));

    const qreal unit = diameter / 10;
    const QPointF c = badge.center();
    QPen mark(Qt::white, qMax<qreal>(1.2, unit * 1.6), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(mark);
    painter.setBrush(Qt::NoBrush);
    switch (state) {
    case Tray::Protected: {
        QPainterPath tick;
        tick.moveTo(c + QPointF(-2.8 * unit, 0.2 * unit));
        tick.lineTo(c + QPointF(-0.8 * unit, 2.2 * unit));
        tick.lineTo(c + QPointF(3 * unit, -2.2 * unit));
        painter.drawPath(tick);
        break;
    }
    case Tray::Trouble:
        painter.setPen(QPen(QColor(0x40, 0x2c, 0x00), mark.widthF(), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(c + QPointF(0, -2.8 * unit), c + QPointF(0, 0.8 * unit));
        painter.drawPoint(c + QPointF(0, 3 * unit));
        break;
    case Tray::Countdown:
        mark.setWidthF(qMax<qreal>(1.0, unit * 1.1));
        painter.setPen(mark);
        painter.drawEllipse(c, 3.2 * unit, 3.2 * unit);
        painter.drawLine(c, c + QPointF(0, -2.2 * unit));
        painter.drawLine(c, c + QPointF(1.6 * unit, 0));
        break;
    case Tray::NotProtected:
        painter.drawLine(c + QPointF(-2.4 * unit, -2.4 * unit), c + QPointF(2.4 * unit, 2.4 * unit));
        painter.drawLine(c + QPointF(2.4 * unit, -2.4 * unit), c + QPointF(-2.4 * unit, 2.4 * unit));
        break;
    }
    return pixmap;
}
} // namespace

namespace ShieldIcon {

QColor badgeColour(StatusLine::Tray state)
{
    switch (state) {
    case StatusLine::Tray::Protected:
        return QColor(0x2e, 0x9e, 0x44);
    case StatusLine::Tray::Trouble:
        return QColor(0xf0, 0xa8, 0x00);
    case StatusLine::Tray::Countdown:
        return QColor(0xd6, 0x28, 0x28);
    case StatusLine::Tray::NotProtected:
        break;
    }
    return QColor(0xb0, 0x10, 0x10);
}

QIcon forState(StatusLine::Tray state)
{
    const QIcon shield(QStringLiteral(":/image/shield.ico"));
    QIcon icon;
    for (const QSize &size : shield.availableSizes())
        icon.addPixmap(badged(shield.pixmap(size), state));
    return icon;
}

} // namespace ShieldIcon
