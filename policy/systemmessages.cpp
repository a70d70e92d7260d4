#include "policy/systemmessages.h"

#include <QCoreApplication>

namespace SystemMessages {

QString translated(const QString &english)
{
    static const char *const all[] = {countdownCanceled, countdownStarted, applicationInvalid, applicationStarting,
        applicationEnded, noSystemBus, logindSilent, powerOffNotPermitted, powerOffRefused, shutdownNoLongerDue};
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
