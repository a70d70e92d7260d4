#include "app/localtimezone.h"

#include <QByteArray>
#include <QDebug>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QtGlobal>

#include <ctime>

void pinLocalTimeZone()
{
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
}

void followLocalTimeZone(QObject *owner)
{
    const QByteArray tz = qgetenv("TZ");
    if (!tz.startsWith(":/"))
        return; // a zone given by rule or by name does not change with the machine's
    const QFileInfo file(QString::fromLocal8Bit(tz.mid(1)));
    auto *watcher = new QFileSystemWatcher(owner);
    // A new zone is a link or file renamed into place: the file's watch ends with it, the directory's stays.
    watcher->addPath(file.absolutePath());
    watcher->addPath(file.absoluteFilePath());
    auto reread = [watcher, file] {
        if (!watcher->files().contains(file.absoluteFilePath()) && file.exists())
            watcher->addPath(file.absoluteFilePath());
        // The library re-reads only when TZ reads differently; two spellings of the same file take turns.
        const QByteArray plain = ':' + QFile::encodeName(file.absoluteFilePath());
        const QByteArray other
            = ':' + QFile::encodeName(file.absolutePath()) + "/./" + QFile::encodeName(file.fileName());
        qputenv("TZ", qgetenv("TZ") == plain ? other : plain);
        tzset();
    };
    QObject::connect(watcher, &QFileSystemWatcher::fileChanged, owner, reread);
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, owner, reread);
}
