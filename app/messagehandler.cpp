#include "app/messagehandler.h"

#include "storage/apppaths.h"
#include "storage/privatefile.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

int syslogPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

bool s_copyToStandardError = false;
} // namespace

void copyMessagesToStandardError(bool copy)
{
    s_copyToStandardError = copy;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss.zzz]"))
        + QLatin1Char(' ') + levelWord(type) + QLatin1Char(' ') + message;

    QMutexLocker lock(&logMutex);
    if (s_copyToStandardError) {
        // The journal stamps the time itself; one line per message, as in the file.
        QByteArray text = message.toUtf8();
        text.replace('\n', ' ');
        std::fprintf(stderr, "<%d>%s %s\n", syslogPriority(type), qPrintable(levelWord(type)), text.constData());
        std::fflush(stderr);
    }
    // A second clock reading: a line logged across midnight may land in the new day's file.
    QFile file(AppPaths::logDir() + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
               + QStringLiteral(".log"));
    // In the packaged, group-shared log/ every member's program appends to the same day file, which any of
    // them may have made; never through a link, and never into a file that is not such a day file.
    QString refusal;
    const int fd = PrivateFile::openShared(file.fileName(), O_WRONLY | O_APPEND, &refusal);
    if (fd < 0) {
        // The log cannot take its own complaint; said once per file on the standard error instead.
        static QString refusedFile;
        if (!refusal.isEmpty() && refusedFile != file.fileName()) {
            refusedFile = file.fileName();
            std::fprintf(stderr, "Refused log file %s: %s\n", qPrintable(refusedFile), qPrintable(refusal));
        }
        // A deleted log directory is not made again: the messages are lost silently and the program goes on.
        return;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return;
    }
    QTextStream stream(&file);
    stream << line << '\n';
    stream.flush();
}
