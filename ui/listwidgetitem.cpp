#include "ui/listwidgetitem.h"

#include "snmp/snmpinfo.h"
#include "ui/led.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

ListWidgetItem::ListWidgetItem(const QString &host, QWidget *parent)
    : QWidget(parent)
    , m_layout(new QHBoxLayout(this))
    , m_label(new QLabel(this))
    , m_led(new Led(this))
    , m_host(host)
{
    m_label->setObjectName(QStringLiteral("hostLabel"));
    m_led->setObjectName(QStringLiteral("led"));
    m_label->setText(host);
    m_layout->addWidget(m_label);
    m_layout->addWidget(m_led);
    m_layout->addStretch();
    setStatus(0);
}

void ListWidgetItem::setStatus(int status)
{
    m_status = status;
    // Back online, the lamp shows the power as last reported: a card that was silent during an outage and
    // answers again is still on battery until a report says otherwise.
    if (status == Snmp::Offline)
        m_led->setColor(Qt::gray);
    else if (status == Snmp::Online)
        m_led->setColor(m_trouble ? Qt::red : Qt::green);
    refreshToolTip();
}

void ListWidgetItem::setData(const QByteArray &data)
{
    // Only the values the answer carried replace the stored ones; a missing object keeps the last known value
    // in the lamp and the tooltip. A short array (never sent by the engine) only has the bytes it has.
    const unsigned mask = Snmp::knownMask(data);
    char *bytes[Snmp::PolledObjectCount] = {
        &m_data.batteryStatus, &m_data.inputStatus, &m_data.outputStatus, reinterpret_cast<char *>(&m_data.capacity)};
    bool changed = false;
    for (int i = 0; i < Snmp::PolledObjectCount; ++i) {
        if (((mask >> i) & 1u) && *bytes[i] != data.at(i)) {
            *bytes[i] = data.at(i);
            changed = true;
        }
    }
    // A card reports every second, mostly the same: the text is built again only when something changed.
    if (changed || !m_detailTipShown)
        setDetailToolTip();

    const bool trouble = Snmp::isPowerTrouble(static_cast<unsigned char>(m_data.batteryStatus),
                                              static_cast<unsigned char>(m_data.inputStatus));
    if (trouble == m_trouble)
        return;
    m_trouble = trouble;
    m_led->setColor(trouble ? Qt::red : Qt::green);
}

void ListWidgetItem::setAuthenticationFailed(bool failed)
{
    if (failed == m_authenticationFailed)
        return;
    m_authenticationFailed = failed;
    refreshToolTip();
}

void ListWidgetItem::reset()
{
    m_data = Data();
    m_trouble = false;
    m_authenticationFailed = false;
    setStatus(Snmp::Offline);
}

void ListWidgetItem::setHost(const QString &host)
{
    m_host = host;
    m_label->setText(host);
}

void ListWidgetItem::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        refreshToolTip();
    QWidget::changeEvent(event);
}

void ListWidgetItem::refreshToolTip()
{
    if (m_status == Snmp::Offline) {
        // A card that turns the credentials down never answers, so the line belongs to the offline tip.
        setToolTip(m_authenticationFailed ? tr("Offline") + QLatin1Char('\n') + tr("Authentication failed")
                                          : tr("Offline"));
        m_detailTipShown = false;
    } else if (m_status == Snmp::Online) {
        setDetailToolTip();
    }
}

void ListWidgetItem::setDetailToolTip()
{
    QString battery;
    switch (m_data.batteryStatus) {
    case Snmp::BatteryNormal: battery = tr("Normal"); break;
    case Snmp::BatteryLow: battery = tr("Battery low"); break;
    default: battery = tr("Unknow"); break;
    }
    QString input;
    switch (m_data.inputStatus) {
    case Snmp::InputNormal: input = tr("Normal"); break;
    case Snmp::InputNoTransfer: input = tr("No transfer"); break;
    case Snmp::InputHighLine: input = tr("High line voltage"); break;
    default: input = tr("Unknown"); break;
    }
    QString output;
    switch (m_data.outputStatus) {
    case Snmp::OutputOnLine: output = tr("On line"); break;
    case Snmp::OutputOnBattery: output = tr("On battery"); break;
    case Snmp::OutputOnBypass: output = tr("On bypass"); break;
    default: output = tr("Unknow"); break;
    }
    const QStringList lines {tr("Battery status: %1").arg(battery), tr("Input status: %1").arg(input),
                             tr("Output status: %1").arg(output),
                             tr("Battery capacity: %1 %").arg(static_cast<unsigned>(m_data.capacity))};
    setToolTip(lines.join(QLatin1Char('\n')));
    m_detailTipShown = true;
}
