#include "policy/systemmessages.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace SystemMessages {

QString text(const SystemMessage &message)
{
    // Only an id of this program's own is looked up; a known pattern without its arguments keeps its %1.
    QString result = QCoreApplication::translate("MainWindow", message.id.toUtf8().constData());
    static const QRegularExpression slot(QStringLiteral("%[1-9]"));
    for (const QString &arg : message.args) {
        if (!result.contains(slot))
            break; // more arguments than the pattern has slots: QString::arg would only warn
        result = result.arg(arg);
    }
    return result;
}

QString translated(const QString &english)
{
    static const char *const all[] = {countdownCanceled, countdownStarted, applicationInvalid, applicationStarting,
        applicationEnded, noSystemBus, logindSilent, powerOffNotPermitted, powerOffRefused, shutdownNoLongerDue,
        followersLeft};
    for (const char *source : all) {
        const QString pattern = QString::fromLatin1(source);
        const int slot = pattern.indexOf(QLatin1String("%1"));
        if (slot < 0) {
            if (english == pattern)
                return QCoreApplication::translate("MainWindow", source);
            continue;
        }
        const QString before = pattern.left(slot);
        const QString after = pattern.mid(slot + 2);
        if (english.size() >= before.size() + after.size() && english.startsWith(before) && english.endsWith(after))
            return QCoreApplication::translate("MainWindow", source)
                .arg(english.mid(before.size(), english.size() - before.size() - after.size()));
    }
    return english;
}

} // namespace SystemMessages
