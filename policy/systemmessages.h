#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One "System" row as the protection says it: the id is the English source text of one of the patterns below,
// args fill its %1, %2...; a face shows it in its own language with SystemMessages::text(). An id that is no
// known pattern is shown as it stands.
struct SystemMessage
{
    QString id;
    QStringList args;

    bool isEmpty() const { return id.isEmpty(); }
    bool operator==(const SystemMessage &other) const { return id == other.id && args == other.args; }
    bool operator!=(const SystemMessage &other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(SystemMessage)

// The protection's "System" messages, translated in the window's context. The service runs without a translator
// and sends them in English; a front end gives them back in its own language with translated().
namespace SystemMessages {

inline constexpr char countdownCanceled[] = QT_TRANSLATE_NOOP("MainWindow", "System shutdown is canceled");
inline constexpr char countdownStarted[] = QT_TRANSLATE_NOOP("MainWindow", "System will be shutdown in %1 minute(s)");
inline constexpr char applicationInvalid[] = QT_TRANSLATE_NOOP("MainWindow", "Shutdown application is invalid!");
inline constexpr char applicationStarting[]
    = QT_TRANSLATE_NOOP("MainWindow", "Start to executing shutdown application.");
inline constexpr char applicationEnded[] = QT_TRANSLATE_NOOP("MainWindow", "Shutdown application exit!");
inline constexpr char noSystemBus[] = QT_TRANSLATE_NOOP("MainWindow", "System shutdown impossible: no system bus (%1)");
inline constexpr char logindSilent[]
    = QT_TRANSLATE_NOOP("MainWindow", "System shutdown impossible: logind does not answer (%1)");
inline constexpr char powerOffNotPermitted[] = QT_TRANSLATE_NOOP(
    "MainWindow", "System shutdown not permitted: logind answers \"%1\"; this user needs the right to power off");
inline constexpr char shutdownNoLongerDue[] = QT_TRANSLATE_NOOP("MainWindow",
    "The power trouble is over: the refused system shutdown is no longer due, the protection is armed again");
inline constexpr char powerOffRefused[] = QT_TRANSLATE_NOOP("MainWindow", "System shutdown refused by logind: %1");
inline constexpr char forcedShutdownRaised[]
    = QT_TRANSLATE_NOOP("MainWindow", "Forced shutdown raised on %1; waiting up to %2 s for %3 follower(s)");
inline constexpr char followersLeft[] = QT_TRANSLATE_NOOP("MainWindow", "All followers have logged out");
inline constexpr char followersStayed[]
    = QT_TRANSLATE_NOOP("MainWindow", "%1 follower(s) still logged in after %2 s: going on");
inline constexpr char forcedShutdownAsked[]
    = QT_TRANSLATE_NOOP("MainWindow", "Forced shutdown asked for %1 by %2: shutting down now");

// The message in the current language with its arguments filled in.
QString text(const SystemMessage &message);
// One of the messages above in the current language, with its argument carried over; other text unchanged.
QString translated(const QString &english);

} // namespace SystemMessages
