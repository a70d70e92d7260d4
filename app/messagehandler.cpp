#include "app/messagehandler.h"

#include "storage/apppaths.h"
#include "storage/privatefile.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

QMutex logMutex;

namespace {
QString levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug:");
    case QtWarningMsg:
        return QStringLiteral("Warning:");
    case QtCriticalMsg:
        return QStringLiteral("Critical:");
    case QtFatalMsg:
        return QStringLiteral("Fatal:");
    case QtInfoMsg:
        return QStringLiteral("Info:");
    }
    return QString();
}
} // namespace

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss.zzz]"))
        + QLatin1Char(' ') + levelWord(type) + QLatin1Char(' ') + message;

    QMutexLocker lock(&logMutex);
    // A second clock reading: a line logged across midnight may land in the new day's file.
    QFile file(AppPaths::logDir() + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
               + QStringLiteral(".log"));
    // In the packaged, group-shared log/ every member's program appends to the same day file.
    PrivateFile::ensure(file.fileName());
    // A deleted log directory is not made again: the messages are lost silently and the program goes on.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << line << '\n';
    stream.flush();
}
