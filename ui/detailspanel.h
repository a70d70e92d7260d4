#pragma once

#include "policy/carddetails.h"

#include <QStringList>
#include <QVector>
#include <QWidget>

class QLabel;

// What the selected card reports of itself, one row a value, "—" for what it does not report. Shows what it is
// given; the window hands it the backend's record of the selected card. GUI thread only.
class DetailsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit DetailsPanel(QWidget *parent = nullptr);

    // host empty: no card is selected. Unreachable, the panel says so instead of showing stale values.
    void show(const QString &host, const CardDetails &details, bool reachable);
    // The value column as shown, top to bottom, and the line above it.
    QStringList values() const;
    QString heading() const;
    // The values of a record in the current language, in the order of the rows.
    static QStringList texts(const CardDetails &details);

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslate();
    void refresh();

    QLabel *m_heading;
    QVector<QLabel *> m_names;
    QVector<QLabel *> m_values;
    QString m_host;
    CardDetails m_details;
    bool m_reachable = true;
};
