#include "ui/statusline.h"

#include "policy/systemmessages.h"

#include <QCoreApplication>

namespace {
// Why a card's power is in trouble, from what it reported; empty while its power is in order or unknown.
QString trouble(const CardState &card)
{
    const QByteArray &data = card.data;
    if (card.status != Snmp::Online)
        return QString();
    if (Snmp::isKnown(data, Snmp::BatteryStatus) && data.at(Snmp::BatteryStatus) == Snmp::BatteryLow)
        return QCoreApplication::translate("StatusLine", "battery low");
    if (Snmp::isKnown(data, Snmp::InputStatus) && data.at(Snmp::InputStatus) != Snmp::InputNormal)
        return QCoreApplication::translate("StatusLine", "mains failure");
    return QString();
}

// The cards by what they say of this machine's power.
struct Counts
{
    int online = 0; // answering, power in order
    int onBattery = 0;
    int batteryLow = 0;
    int offline = 0;
    int waiting = 0; // no report yet

    explicit Counts(const QList<CardState> &cards)
    {
        for (const CardState &card : cards) {
            const QString why = trouble(card);
            if (card.status < 0)
                ++waiting;
            else if (card.status != Snmp::Online)
                ++offline;
            else if (why.isEmpty())
                ++online;
            else if (Snmp::isKnown(card.data, Snmp::BatteryStatus)
                && card.data.at(Snmp::BatteryStatus) == Snmp::BatteryLow)
                ++batteryLow;
            else
                ++onBattery;
        }
    }
    int troubled() const { return onBattery + batteryLow; }
};
} // namespace

namespace StatusLine {

Input of(const ProtectionBackend &backend)
{
    return {backend.isReachable(), backend.cards(), backend.countdownMs(), backend.shutdownRefusal()};
}

QString clock(qint64 remainingMs)
{
    const qint64 left = qMax<qint64>(0, remainingMs) / 1000;
    return QStringLiteral("%1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
}

Line compute(const Input &input)
{
    if (!input.reachable)
        return {Level::Danger,
            QCoreApplication::translate("StatusLine",
                "Not protected: the protection service is not running. Start it with: sudo systemctl start vigilex")};
    const QString countdown = input.countdownMs >= 0
        ? QCoreApplication::translate("StatusLine", " \u2014 shutdown in %1").arg(clock(input.countdownMs))
        : QString();
    if (!input.refusal.isEmpty())
        return {Level::Danger,
            QCoreApplication::translate("StatusLine", "Shutdown due but refused: %1")
                .arg(SystemMessages::text(input.refusal))};

    QStringList troubled;
    QStringList offline;
    int online = 0;
    int unknown = 0;
    for (const CardState &card : input.cards) {
        const QString why = trouble(card);
        if (!why.isEmpty())
            troubled << QStringLiteral("%1 (%2)").arg(card.host, why);
        if (card.status == Snmp::Online)
            ++online;
        else if (card.status < 0)
            ++unknown;
        else
            offline << card.host;
    }
    if (!troubled.isEmpty())
        return {Level::Danger,
            QCoreApplication::translate("StatusLine", "On battery: %1").arg(troubled.join(QStringLiteral(", ")))
                + countdown};
    if (!countdown.isEmpty())
        return {
            Level::Danger, QCoreApplication::translate("StatusLine", "Shutdown in %1").arg(clock(input.countdownMs))};
    if (input.cards.isEmpty())
        return {Level::Warning,
            QCoreApplication::translate("StatusLine", "Not protected: no UPS card is listed; add one under Settings")};
    if (online == 0 && unknown == 0)
        return {Level::Warning,
            QCoreApplication::translate("StatusLine", "Not protected: no card answers (offline: %1)")
                .arg(offline.join(QStringLiteral(", ")))};
    if (!offline.isEmpty())
        return {Level::Warning,
            QCoreApplication::translate("StatusLine", "Protected by %n card(s); offline: %1", nullptr, online)
                .arg(offline.join(QStringLiteral(", ")))};
    if (online == 0)
        return {Level::Waiting,
            QCoreApplication::translate("StatusLine", "Waiting for the first report of %n card(s)", nullptr, unknown)};
    if (unknown > 0)
        return {Level::Protected,
            QCoreApplication::translate("StatusLine", "Protected \u2014 %n card(s) online", nullptr, online)
                + QCoreApplication::translate("StatusLine", ", %n waiting for a first report", nullptr, unknown)};
    return {Level::Protected,
        QCoreApplication::translate("StatusLine", "Protected \u2014 %n card(s) online", nullptr, online)};
}

Tray trayState(const Input &input)
{
    if (!input.reachable || !input.refusal.isEmpty() || input.cards.isEmpty())
        return Tray::NotProtected;
    if (input.countdownMs >= 0)
        return Tray::Countdown;
    const Counts counts(input.cards);
    if (counts.troubled() > 0)
        return Tray::Trouble;
    if (counts.online == 0)
        return counts.waiting > 0 ? Tray::Trouble : Tray::NotProtected;
    return counts.offline > 0 ? Tray::Trouble : Tray::Protected;
}

QString summary(const Input &input)
{
    if (!input.reachable)
        return QCoreApplication::translate("StatusLine", "Not protected: the protection service is not running");
    if (input.cards.isEmpty())
        return QCoreApplication::translate("StatusLine", "Not protected: no UPS card is listed");
    const Counts counts(input.cards);
    QStringList parts;
    if (counts.online > 0)
        parts << QCoreApplication::translate("StatusLine", "%1 online").arg(counts.online);
    if (counts.onBattery > 0)
        parts << QCoreApplication::translate("StatusLine", "%1 on battery").arg(counts.onBattery);
    if (counts.batteryLow > 0)
        parts << QCoreApplication::translate("StatusLine", "%1 battery low").arg(counts.batteryLow);
    if (counts.offline > 0)
        parts << QCoreApplication::translate("StatusLine", "%1 offline").arg(counts.offline);
    if (counts.waiting > 0)
        parts << QCoreApplication::translate("StatusLine", "%1 waiting").arg(counts.waiting);
    QString text = QCoreApplication::translate("StatusLine", "%n card(s): %1", nullptr, int(input.cards.size()))
                       .arg(parts.join(QCoreApplication::translate("StatusLine", ", ")));
    if (!input.refusal.isEmpty())
        text += QCoreApplication::translate("StatusLine", " \u2014 shutdown due but refused");
    else if (input.countdownMs >= 0)
        text += QCoreApplication::translate("StatusLine", " \u2014 shutdown in %1").arg(clock(input.countdownMs));
    else if (counts.online == 0 && counts.troubled() == 0 && counts.waiting == 0)
        text += QCoreApplication::translate("StatusLine", " \u2014 not protected");
    return text;
}

} // namespace StatusLine
