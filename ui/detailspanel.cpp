#include "ui/detailspanel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int rowCount = 11;
const QString dash = QStringLiteral("\u2014");

QString number(int value, const QString &format)
{
    return value == CardDetails::absent ? dash : format.arg(value);
}

QString outputSource(int code)
{
    switch (code) {
    case CardDetails::absent:
        return dash;
    case 1:
        return QCoreApplication::translate("DetailsPanel", "other");
    case 2:
        return QCoreApplication::translate("DetailsPanel", "none (output off)");
    case 3:
        return QCoreApplication::translate("DetailsPanel", "normal");
    case 4:
        return QCoreApplication::translate("DetailsPanel", "bypass");
    case 5:
        return QCoreApplication::translate("DetailsPanel", "battery");
    case 6:
        return QCoreApplication::translate("DetailsPanel", "booster (low input raised)");
    case 7:
        return QCoreApplication::translate("DetailsPanel", "reducer (high input lowered)");
    }
    return QCoreApplication::translate("DetailsPanel", "unknown (%1)").arg(code);
}

QString batteryStatus(int code)
{
    switch (code) {
    case CardDetails::absent:
        return dash;
    case 1:
        return QCoreApplication::translate("DetailsPanel", "unknown");
    case 2:
        return QCoreApplication::translate("DetailsPanel", "normal");
    case 3:
        return QCoreApplication::translate("DetailsPanel", "low");
    case 4:
        return QCoreApplication::translate("DetailsPanel", "depleted");
    }
    return QCoreApplication::translate("DetailsPanel", "unknown (%1)").arg(code);
}
} // namespace

DetailsPanel::DetailsPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("detailsPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("detailsHeading"));
    m_heading->setWordWrap(true);
    QFont strong = m_heading->font();
    strong.setBold(true);
    m_heading->setFont(strong);
    layout->addWidget(m_heading);
    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setHorizontalSpacing(8);
    form->setVerticalSpacing(2);
    form->setLabelAlignment(Qt::AlignLeft);
    for (int row = 0; row < rowCount; ++row) {
        auto *name = new QLabel(this);
        auto *value = new QLabel(dash, this);
        value->setObjectName(QStringLiteral("detailValue%1").arg(row));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_names << name;
        m_values << value;
        form->addRow(name, value);
    }
    layout->addLayout(form);
    layout->addStretch(1);
    retranslate();
}

void DetailsPanel::show(const QString &host, const CardDetails &details, bool reachable)
{
    m_host = host;
    m_details = details;
    m_reachable = reachable;
    refresh();
}

QStringList DetailsPanel::values() const
{
    QStringList texts;
    for (const QLabel *value : m_values)
        texts << value->text();
    return texts;
}

QString DetailsPanel::heading() const
{
    return m_heading->text();
}

QStringList DetailsPanel::texts(const CardDetails &d)
{
    const QString frequency = d.inputFrequencyTenths == CardDetails::absent
        ? dash
        : tr("%1 Hz").arg(d.inputFrequencyTenths / 10.0, 0, 'f', 1);
    const QString answered = d.answeredAtMs == 0
        ? dash
        : QDateTime::fromMSecsSinceEpoch(d.answeredAtMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return {d.model.isEmpty() ? dash : d.model, outputSource(d.outputSource), batteryStatus(d.batteryStatus),
        number(d.capacity, tr("%1 %")), number(d.runtimeMinutes, tr("%1 min")), number(d.loadPercent, tr("%1 %")),
        number(d.inputVoltage, tr("%1 V")), number(d.outputVoltage, tr("%1 V")), frequency,
        number(d.batteryTemperature, tr("%1 °C")), answered};
}

void DetailsPanel::refresh()
{
    // Values of another card, or from a service that is gone, are no longer true: they go.
    const bool known = m_reachable && !m_host.isEmpty() && m_details.isKnown() && m_details.host == m_host;
    const QStringList texts = known ? DetailsPanel::texts(m_details) : QStringList();
    for (int row = 0; row < rowCount; ++row)
        m_values.at(row)->setText(texts.value(row, dash));
    if (!m_reachable)
        m_heading->setText(tr("No details: the protection service is not running"));
    else if (m_host.isEmpty())
        m_heading->setText(tr("Select a card to see what it reports"));
    else if (!known)
        m_heading->setText(tr("%1: no details reported yet").arg(m_host));
    else
        m_heading->setText(m_host);
}

void DetailsPanel::retranslate()
{
    const QString names[rowCount] = {tr("Model:"), tr("Output source:"), tr("Battery status:"), tr("Capacity:"),
        tr("Estimated runtime:"), tr("Load:"), tr("Input voltage:"), tr("Output voltage:"), tr("Input frequency:"),
        tr("Battery temperature:"), tr("Last answer:")};
    for (int row = 0; row < rowCount; ++row)
        m_names.at(row)->setText(names[row]);
    refresh();
}

void DetailsPanel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}
