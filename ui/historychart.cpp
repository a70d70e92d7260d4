#include "ui/historychart.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <functional>

namespace {
const QColor capacityColour(0x2e, 0x7d, 0x32);
const QColor loadColour(0x1f, 0x5f, 0xbf);
const QColor troubleColour(0xd6, 0x28, 0x28);
const QColor markColour(0x90, 0x90, 0x90);
constexpr qint64 minute = 60;
constexpr int markHeight = 8;

// A line through the values present; a missing value or more than two minutes without a sample breaks it, so
// that a card that was silent shows as a gap, not as a straight line across.
QPainterPath lineOf(
    const QVector<HistorySample> &samples, int HistorySample::*field, const std::function<QPointF(qint64, int)> &point)
{
    QPainterPath path;
    qint64 last = 0;
    bool open = false;
    for (const HistorySample &sample : samples) {
        const int value = sample.*field;
        if (value == HistorySample::absent) {
            open = false;
            continue;
        }
        const QPointF at = point(sample.at, qBound(0, value, 100));
        if (open && sample.at - last <= 2 * minute)
            path.lineTo(at);
        else
            path.moveTo(at);
        // A single minute between gaps still shows, as a short stroke.
        if (!open || sample.at - last > 2 * minute)
            path.lineTo(at + QPointF(0.5, 0));
        open = true;
        last = sample.at;
    }
    return path;
}
} // namespace

HistoryChart::HistoryChart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("historyChart"));
    setMinimumSize(minimumSizeHint());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void HistoryChart::setData(qint64 from, qint64 to, const QVector<HistorySample> &samples)
{
    m_from = from;
    m_to = qMax(to, from + minute);
    m_samples = samples;
    m_message.clear();
    update();
}

void HistoryChart::setMarks(const QVector<Mark> &marks)
{
    m_marks = marks;
    update();
}

void HistoryChart::setMessage(const QString &message)
{
    m_message = message;
    update();
}

QRectF HistoryChart::plotArea() const
{
    const QFontMetrics metrics(font());
    const qreal left = metrics.horizontalAdvance(QStringLiteral("100%")) + 8;
    const qreal top = metrics.height() + 6; // the legend
    const qreal bottom = metrics.height() + markHeight + 6; // the marks and the hours
    return QRectF(left, top, qMax(10.0, width() - left - 8), qMax(10.0, height() - top - bottom));
}

qreal HistoryChart::xOf(qint64 at, const QRectF &plot) const
{
    const qreal span = qreal(m_to - m_from);
    return plot.left() + plot.width() * qBound(0.0, qreal(at - m_from) / span, 1.0);
}

void HistoryChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().base());
    const QFontMetrics metrics(font());
    if (!m_message.isEmpty() || m_to <= m_from) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    const QRectF plot = plotArea();
    const QColor grid = palette().color(QPalette::Mid);
    const QColor text = palette().color(QPalette::Text);

    // The percent scale, a line every 25 %.
    painter.setFont(font());
    for (int percent = 0; percent <= 100; percent += 25) {
        const qreal y = plot.bottom() - plot.height() * percent / 100.0;
        painter.setPen(QPen(grid, 1, percent == 0 ? Qt::SolidLine : Qt::DotLine));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(text);
        painter.drawText(QRectF(0, y - metrics.height() / 2.0, plot.left() - 4, metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1%").arg(percent));
    }
    // The hours of local time, every six of them in a day's range, every hour in a short one.
    const qint64 step = m_to - m_from > 12 * 3600 ? 6 * 3600 : 3600;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(m_from);
    QDateTime tick(start.date(), QTime(start.time().hour(), 0));
    const qreal labelY = plot.bottom() + markHeight + 4;
    int guard = 0;
    while (tick.toSecsSinceEpoch() <= m_to && guard++ < 48) {
        const qint64 at = tick.toSecsSinceEpoch();
        if (at >= m_from && (tick.time().hour() * 3600) % step == 0) {
            const qreal x = xOf(at, plot);
            painter.setPen(QPen(grid, 1, Qt::DotLine));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            const QString label = tick.toString(QStringLiteral("HH:mm"));
            const qreal w = metrics.horizontalAdvance(label);
            painter.setPen(text);
            painter.drawText(QPointF(qBound(0.0, x - w / 2, width() - w), labelY + metrics.ascent()), label);
        }
        tick = tick.addSecs(3600);
    }

    // Events: a tick below the axis and a faint line up through the chart; power trouble in red, drawn last.
    for (int pass = 0; pass < 2; ++pass) {
        for (const Mark &mark : qAsConst(m_marks)) {
            if (mark.powerTrouble != (pass == 1) || mark.at < m_from || mark.at > m_to)
                continue;
            const qreal x = xOf(mark.at, plot);
            const QColor colour = mark.powerTrouble ? troubleColour : markColour;
            QColor faint = colour;
            faint.setAlpha(mark.powerTrouble ? 90 : 50);
            painter.setPen(QPen(faint, 1));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            painter.setPen(QPen(colour, mark.powerTrouble ? 3 : 2));
            painter.drawLine(QPointF(x, plot.bottom() + 1), QPointF(x, plot.bottom() + markHeight));
        }
    }

    const auto point = [this, &plot](qint64 at, int percent) {
        return QPointF(xOf(at, plot), plot.bottom() - plot.height() * percent / 100.0);
    };
    painter.setClipRect(plot.adjusted(-2, -2, 2, 2));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(loadColour, 1.5));
    painter.drawPath(lineOf(m_samples, &HistorySample::loadPercent, point));
    painter.setPen(QPen(capacityColour, 2));
    painter.drawPath(lineOf(m_samples, &HistorySample::capacity, point));
    painter.setClipping(false);

    // The legend along the top.
    qreal x = plot.left();
    const qreal y = 2;
    const auto legend = [&](const QColor &colour, const QString &label, bool bar) {
        painter.setPen(QPen(colour, bar ? 3 : 2));
        if (bar)
            painter.drawLine(QPointF(x + 5, y + 2), QPointF(x + 5, y + metrics.height() - 2));
        else
            painter.drawLine(QPointF(x, y + metrics.height() / 2.0), QPointF(x + 14, y + metrics.height() / 2.0));
        x += bar ? 12 : 18;
        painter.setPen(text);
        painter.drawText(QPointF(x, y + metrics.ascent()), label);
        x += metrics.horizontalAdvance(label) + 12;
    };
    legend(capacityColour, tr("Capacity"), false);
    legend(loadColour, tr("Load"), false);
    legend(troubleColour, tr("Power trouble"), true);
    legend(markColour, tr("Other events"), true);
    if (m_samples.isEmpty()) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, tr("No samples in the last 24 hours"));
    }
}

bool HistoryChart::event(QEvent *event)
{
    // The event under the pointer, the nearest within a few pixels, in a tooltip.
    if (event->type() == QEvent::ToolTip && m_message.isEmpty() && m_to > m_from) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const QRectF plot = plotArea();
        const Mark *nearest = nullptr;
        qreal best = 5;
        for (const Mark &mark : qAsConst(m_marks)) {
            const qreal distance = qAbs(xOf(mark.at, plot) - help->pos().x());
            if (distance <= best) {
                best = distance;
                nearest = &mark;
            }
        }
        if (nearest)
            QToolTip::showText(help->globalPos(),
                QDateTime::fromSecsSinceEpoch(nearest->at).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "))
                    + nearest->text,
                this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}
