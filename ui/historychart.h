#pragma once

#include "policy/carddetails.h"

#include <QString>
#include <QVector>
#include <QWidget>

// A card's last hours: capacity and load in % over time, with its events marked along the bottom, power trouble
// in red. Shows what it is given, nothing is read here; instead of the lines it can show a short text (nothing
// selected, a failed read). GUI thread only.
class HistoryChart : public QWidget
{
    Q_OBJECT
public:
    struct Mark
    {
        qint64 at = 0; // seconds since 1970 UTC
        bool powerTrouble = false;
        QString text;
    };

    explicit HistoryChart(QWidget *parent = nullptr);

    // from..to in seconds since 1970 UTC; samples oldest first.
    void setData(qint64 from, qint64 to, const QVector<HistorySample> &samples);
    void setMarks(const QVector<Mark> &marks);
    // Shown in place of the lines while not empty.
    void setMessage(const QString &message);
    QString message() const { return m_message; }
    QVector<HistorySample> samples() const { return m_samples; }
    QVector<Mark> marks() const { return m_marks; }

    QSize sizeHint() const override { return QSize(360, 170); }
    QSize minimumSizeHint() const override { return QSize(200, 110); }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QRectF plotArea() const;
    qreal xOf(qint64 at, const QRectF &plot) const;

    qint64 m_from = 0;
    qint64 m_to = 0;
    QVector<HistorySample> m_samples;
    QVector<Mark> m_marks;
    QString m_message;
};
