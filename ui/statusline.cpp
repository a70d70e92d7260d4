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

} // namespace StatusLine
