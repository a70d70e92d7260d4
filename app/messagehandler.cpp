#include "app/messagehandler.h"

#include "storage/apppaths.h"
#include "storage/privatefile.h"

#include <QDateTime>
#include <QDir>
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
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        // A log directory deleted while the program runs is made again, so the rest of the run is not lost too.
        if (!QDir().mkpath(AppPaths::logDir()))
            return;
        PrivateFile::ensure(file.fileName());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return; // the message is lost; there is nowhere to say so
    }
    QTextStream stream(&file);
    stream << line << '\n';
    stream.flush();
}
