#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "support/scratchapp.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <ctime>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Takes CAP_DAC_OVERRIDE out of the effective set while it lives (it stays permitted, so it comes back).
class WithoutPermissionOverride
{
public:
    WithoutPermissionOverride()
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutPermissionOverride()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] {};
    bool m_dropped = false;
};

class TestSettings : public QObject
{
    Q_OBJECT

    static QString path() { return AppPaths::settingsFilePath(); }

private slots:
    void absentKeyIsInvalid()
    {
        ScratchApp app(ScratchApp::Empty);
        const QVariant v = readSetting(path(), QStringLiteral("shutdown/ac_failed_time"));
        QVERIFY(!v.isValid());
        QCOMPARE(v.toInt(), 0);
        QCOMPARE(v.toBool(), false);
        QCOMPARE(v.toString(), QString());
    }

    void conversions_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("asInt");
        QTest::addColumn<bool>("asBool");
        QTest::newRow("true") << QByteArray("true") << 0 << true;
        QTest::newRow("false") << QByteArray("false") << 0 << false;
        QTest::newRow("number") << QByteArray("120") << 120 << true;
        QTest::newRow("zero") << QByteArray("0") << 0 << false;
        QTest::newRow("negative") << QByteArray("-5") << -5 << true;
        QTest::newRow("not a number") << QByteArray("five") << 0 << true;
        QTest::newRow("trailing text") << QByteArray("5 minutes") << 0 << true;
    }

    void conversions()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, asInt);
        QFETCH(bool, asBool);
        ScratchApp app(ScratchApp::Empty);
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[shutdown]\nvalue=" + stored + "\n");
        f.close();
        const QVariant v = readSetting(path(), QStringLiteral("shutdown/value"));
        QVERIFY(v.isValid());
        QCOMPARE(v.toInt(), asInt);
        QCOMPARE(v.toBool(), asBool);
    }

    void writeIsOnDiskWhenTheCallReturns()
    {
        ScratchApp app(ScratchApp::Empty);
        writeSetting(path(), QStringLiteral("system/language"), 1);
        writeSetting(path(), QStringLiteral("system/pop_warning"), true);
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        QVERIFY(content.contains("[system]"));
        QVERIFY(content.contains("language=1"));
        QVERIFY(content.contains("pop_warning=true"));
        QCOMPARE(readSetting(path(), QStringLiteral("system/pop_warning")).toBool(), true);
    }

    void settingsFileIsPrivate()
    {
        ScratchApp app(ScratchApp::Empty);
        writeSetting(path(), QStringLiteral("system/shutdown_app"), QStringLiteral("/opt/my app/run"));
        writeSetting(path(), QStringLiteral("shutdown/batt_low_time"), 5); // a rewrite keeps the mode
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(
            readSetting(path(), QStringLiteral("system/shutdown_app")).toString(), QStringLiteral("/opt/my app/run"));
    }

    // Several keys go in together or not at all, and a file that cannot be written is no success.
    void storeSettingsIsAllOrNothing_data()
    {
        QTest::addColumn<QVariantMap>("values");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("refusal");
        const QString capacity = QStringLiteral("shutdown/ac_failed_capacity");
        const QString time = QStringLiteral("shutdown/ac_failed_time");
        QTest::newRow("all fine") << QVariantMap {{capacity, 30}, {time, 7}} << false << QString();
        QTest::newRow("one out of range")
            << QVariantMap {{capacity, 30}, {time, -1}} << false << QStringLiteral("must lie from 1 to 9999");
        QTest::newRow("one unknown key") << QVariantMap {{capacity, 30}, {QStringLiteral("shutdown/nothing"), 1}}
                                         << false << QStringLiteral("no such settings key");
        QTest::newRow("read-only directory")
            << QVariantMap {{capacity, 30}} << true << QStringLiteral("cannot be written");
    }

    void storeSettingsIsAllOrNothing()
    {
        QFETCH(QVariantMap, values);
        QFETCH(bool, readOnly);
        QFETCH(QString, refusal);
        ScratchApp app(ScratchApp::Empty);
        QCOMPARE(storeSetting(path(), QStringLiteral("shutdown/ac_failed_capacity"), 20), QString());
        // A read-only file alone would be replaced (written beside it and renamed), a read-only directory alone
        // written in place.
        const QString directory = QFileInfo(path()).absolutePath();
        if (readOnly) {
            QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner));
            QVERIFY(QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        QString why;
        {
            // Root writes a read-only file all the same, unless it gives up overriding the permissions.
            WithoutPermissionOverride asUser;
            why = storeSettings(path(), values);
        }
        QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(why.isEmpty(), refusal.isEmpty());
        QVERIFY2(why.contains(refusal), qPrintable(why));
        QCOMPARE(
            readSetting(path(), QStringLiteral("shutdown/ac_failed_capacity")).toInt(), refusal.isEmpty() ? 30 : 20);
    }

    // Reads are cached while the file stays as it was; any change of it shows at the very next read.
    void readFollowsEveryChangeOfTheFile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("saved by the program") << QStringLiteral("save") << QVariant(QStringLiteral("7"));
        QTest::newRow("rewritten in place, same size") << QStringLiteral("inplace") << QVariant(QStringLiteral("8"));
        QTest::newRow("a new file renamed into place") << QStringLiteral("rename") << QVariant(QStringLiteral("9"));
        QTest::newRow("deleted") << QStringLiteral("delete") << QVariant();
    }

    void readFollowsEveryChangeOfTheFile()
    {
        QFETCH(QString, change);
        QFETCH(QVariant, expected);
        ScratchApp app(ScratchApp::Empty);
        // Another program's save, a moment later: Qt's own reader also goes by the size and the time.
        const auto put = [](const QString &file, const QByteArray &value) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite)); // in place: same inode, no truncation
            f.write("[shutdown]\nvalue=" + value + "\n");
            f.close();
            static time_t when = ::time(nullptr) + 10;
            const struct timespec times[2] = {{when, 0}, {when, 0}};
            ++when;
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
        };
        put(path(), "5");
        const QString key = QStringLiteral("shutdown/value");
        QCOMPARE(readSetting(path(), key), QVariant(QStringLiteral("5")));
        QCOMPARE(readSetting(path(), key), QVariant(QStringLiteral("5")));
        if (change == QLatin1String("save")) {
            writeSetting(path(), key, 7);
        } else if (change == QLatin1String("inplace")) {
            put(path(), "8");
        } else if (change == QLatin1String("rename")) {
            put(path() + QStringLiteral(".new"), "9");
            QCOMPARE(::rename(QFile::encodeName(path() + QStringLiteral(".new")).constData(),
                         QFile::encodeName(path()).constData()),
                0);
        } else {
            QVERIFY(QFile::remove(path()));
        }
        QCOMPARE(readSetting(path(), key), expected);
    }

    // In a shared cfg/ any member may leave a link or a file of their own where the program writes; the
    // program refuses it with a log line and never writes through it.
    void plantedFilesAreRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("planted");
        QTest::newRow("settings file is a link") << QStringLiteral("cfg/settings.ini") << QStringLiteral("link");
        QTest::newRow("settings lock is a link") << QStringLiteral("cfg/settings.ini.lock") << QStringLiteral("link");
        QTest::newRow("settings file is a FIFO") << QStringLiteral("cfg/settings.ini") << QStringLiteral("fifo");
        QTest::newRow("settings file of another user") << QStringLiteral("cfg/settings.ini") << QStringLiteral("chown");
        QTest::newRow("database is a link") << QStringLiteral("cfg/vigilex.db") << QStringLiteral("link");
        QTest::newRow("database of another user") << QStringLiteral("cfg/vigilex.db") << QStringLiteral("chown");
    }

    void plantedFilesAreRefused()
    {
        QFETCH(QString, file);
        QFETCH(QString, planted);
        if (planted == QLatin1String("chown") && ::getuid() != 0)
            QSKIP("needs root to hand a file to another user");
        ScratchApp app(ScratchApp::Empty);
        QDir().mkpath(app.path(QStringLiteral("cfg")));
        const QString victim = app.path(QStringLiteral("victim"));
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly));
        v.write("precious\n");
        v.close();
        const QByteArray name = QFile::encodeName(app.path(file));
        if (planted == QLatin1String("link")) {
            QVERIFY(QFile::link(victim, app.path(file)));
        } else if (planted == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(name.constData(), 0660), 0);
        } else {
            QVERIFY(QFile::copy(victim, app.path(file)));
            QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
        }
        const QString reason = planted == QLatin1String("link") ? QStringLiteral("is a link")
            : planted == QLatin1String("fifo")                  ? QStringLiteral("is no regular file")
                                                                : QStringLiteral("belongs to uid 65534");
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                QStringLiteral("^Refused (database )?file .*%1 : %2").arg(QRegularExpression::escape(file), reason)));
        if (file.endsWith(QLatin1String(".db")))
            QVERIFY(!Database::instance()->open(app.path(file), QString(), QString()));
        else
            writeSetting(path(), QStringLiteral("shutdown/batt_low_time"), 5);
        QVERIFY(v.open(QIODevice::ReadOnly));
        QCOMPARE(v.readAll(), QByteArray("precious\n"));
        QCOMPARE(readSetting(path(), QStringLiteral("shutdown/batt_low_time")), QVariant());
    }

    void garbageFileReadsAsAbsent()
    {
        ScratchApp app(ScratchApp::Empty);
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray junk;
        for (int i = 0; i < 4096; ++i)
            junk.append(char((i * 131 + 7) & 0xff));
        f.write(junk);
        f.close();
        QCOMPARE(readSetting(path(), QStringLiteral("shutdown/ac_failed_capacity")).toInt(), 0);
        writeSetting(path(), QStringLiteral("shutdown/ac_failed_capacity"), 20);
        QCOMPARE(readSetting(path(), QStringLiteral("shutdown/ac_failed_capacity")).toInt(), 20);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
