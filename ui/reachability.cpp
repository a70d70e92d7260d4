#include "ui/reachability.h"

#include <QCoreApplication>
#include <QProcess>

namespace Reachability {

QString program()
{
    return QStringLiteral("ping");
}

QStringList arguments(const QString &address)
{
    return {QStringLiteral("-c"), QStringLiteral("3"), QStringLiteral("-W"), QStringLiteral("2"), address};
}

bool showsReply(const QByteArray &output)
{
    return output.toLower().contains("ttl=");
}

bool answersPing(const QString &address)
{
    QProcess process;
    process.start(program(), arguments(address), QIODevice::ReadWrite);
    // Only the tail of earlier output is kept, so a reply split across two reads is still seen.
    QByteArray tail;
    bool reply = false;
    while (process.waitForReadyRead(WaitMs)) {
        const QByteArray window = tail + process.readAllStandardOutput();
        if (showsReply(window)) {
            reply = true;
            break;
        }
        tail = window.right(3);
        QCoreApplication::processEvents();
    }
    process.waitForFinished(WaitMs);
    return reply;
}

} // namespace Reachability
