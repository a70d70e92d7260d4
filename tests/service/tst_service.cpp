#include "engine/enginetest.h"
#include "policy/policyrig.h"

#include "service/protectionclient.h"
#include "service/protectionservice.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventcatalogue.h"
#include "storage/hosttable.h"
#include "storage/settings.h"
#include "support/fakelogind.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/settingrows.h"
#include "support/upssim.h"
#include "ui/addhostdialog.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/logdialog.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <signal.h>

// The service as the package runs it, minus systemd: its own executable beside a scratch installation, on a
// private system bus that carries a recording logind and polkit, watching simulated cards.
class TestService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void mainsFailureWithoutWindowPowersOffOnce();
    void frontEndFollowsTheService();
    void setSettingChecksTheTable();
    void hostSecretsStayInTheService();
    void eventsListWhatWasJustTaken();
    void testShutdownApplicationRunsInTheService();
    void outageOutlastsEditRestartAndRefusal();

private:
    bool startService();
    bool stopService();
    QString serviceOutput();
    static QStringList rows(MainWindow &window);

    FakeLogind m_bus;
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<UpsSim> m_card;
    QProcess m_service;
    QString m_output;
};

namespace {
const QString configureAction = QStringLiteral("org.vigilex.protection1.configure");
const QString applicationAction = QStringLiteral("org.vigilex.protection1.configure-application");
const QString cardA = QStringLiteral("127.0.0.1");
const QString cardB = QStringLiteral("127.0.0.2");
constexpr int portA = 16171;
constexpr int portB = 16172;

void setting(const char *key, const QVariant &value)
{
    writeSetting(AppPaths::settingsFilePath(), QLatin1String(key), value);
}

QColor lamp(MainWindow &window, const QString &host)
{
    ListWidgetItem *item = window.findHostItem(host);
    return item ? item->led()->color() : QColor();
}
} // namespace

QStringList TestService::rows(MainWindow &window)
{
    QStringList result;
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("eventTable"));
    QMetaObject::invokeMethod(&window, "flushEventRows");
    for (int row = 0; table && row < table->rowCount(); ++row)
        result.append(table->item(row, 1)->text() + QLatin1Char('|') + table->item(row, 2)->text());
    return result;
}

void TestService::initTestCase()
{
    QString why;
    QVERIFY2(m_bus.startBus(&why), qPrintable(why));
    QVERIFY2(m_bus.registerService(FakeLogind::Behaviour(), &why), qPrintable(why));
    QVERIFY2(m_bus.registerPolkit(true, &why), qPrintable(why));

    m_app = std::make_unique<ScratchApp>();
    // Beside its files, as installed: the service finds cfg/ and log/ next to itself.
    QVERIFY(QFile::copy(
        buildBinDir() + QStringLiteral("/vigilex-service"), m_app->path(QStringLiteral("vigilex-service"))));
    QFile(m_app->path(QStringLiteral("vigilex-service"))).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    Database::instance()->createTables();
    QVERIFY(HostTable::insert(v2cHost(cardA, portA)));

    m_card = std::make_unique<UpsSim>(QStringLiteral("udp:%1:%2").arg(cardA).arg(portA));
    QVERIFY2(m_card->start(), qPrintable(m_card->log()));
}

void TestService::cleanupTestCase()
{
    stopService();
    m_card.reset();
}

bool TestService::startService()
{
    // Afresh, also after a test that left it running.
    if (!stopService())
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_bus.address());
    m_service.setProcessEnvironment(env);
    m_service.setProcessChannelMode(QProcess::MergedChannels);
    m_output.clear();
    m_service.start(m_app->path(QStringLiteral("vigilex-service")), QStringList());
    if (!m_service.waitForStarted(5000))
        return false;
    // On the bus once the name is taken.
    QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("probe"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !ProtectionClient::serviceRunning(bus))
        QTest::qWait(50);
    return ProtectionClient::serviceRunning(bus);
}

bool TestService::stopService()
{
    if (m_service.state() == QProcess::NotRunning)
        return true;
    ::kill(pid_t(m_service.processId()), SIGTERM);
    const bool ended = m_service.waitForFinished(10000);
    serviceOutput();
    return ended && m_service.exitStatus() == QProcess::NormalExit && m_service.exitCode() == 0;
}

QString TestService::serviceOutput()
{
    m_output += QString::fromUtf8(m_service.readAll());
    return m_output;
}

void TestService::mainsFailureWithoutWindowPowersOffOnce()
{
    setting("shutdown/ac_failed_time", 5);
    setting("shutdown/batt_low_time", 5);
    setting("shutdown/ac_failed_capacity", 100); // a capacity below full on a mains failure: the step at once
    setting("system/shutdown_app_enable", true);
    setting(
        "system/shutdown_app", writeShutdownScript(m_app->path(), QStringLiteral("touch \"$(dirname \"$0\")/ran\"")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QTRY_VERIFY_WITH_TIMEOUT(
        serviceOutput().contains(QStringLiteral("Protection service started, watching 1 card(s)")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_card->requestCount() >= 2, 5000);

    // Stored now, listed later by a window that did not exist yet.
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("Event from 127.0.0.1: 8")), 5000);

    QVERIFY(m_card->setState(QStringLiteral("capacity"), 99));
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(m_bus.calls().powerOff.size(), 1, 10000);
    QCOMPARE(m_bus.calls().powerOff.first(), false); // never interactive
    QVERIFY(QFile::exists(m_app->path(QStringLiteral("my app/ran"))));
    QTRY_VERIFY(serviceOutput().contains(QStringLiteral("Start to executing shutdown application.")));
    // Further failed reports do not ask again.
    QTest::qWait(2500);
    QCOMPARE(m_bus.calls().powerOff.size(), 1);
    QCOMPARE(m_bus.calls().otherShutdownCalls, 0);

    QVERIFY2(stopService(), qPrintable(serviceOutput()));
    QVERIFY(m_output.contains(QStringLiteral("Protection service stopping")));
}

void TestService::frontEndFollowsTheService()
{
    setting("shutdown/ac_failed_capacity", 0);
    setting("system/shutdown_app_enable", false);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));

    ProtectionClient client(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("frontend")));
    MainWindow window(&client);
    window.show();
    QVERIFY(!window.shutdownPolicy());
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardA), QColor(Qt::green), 5000);

    {
        // The log dialog lists what the service stored before this window existed.
        LogDialog log;
        for (const char *name : {"startDateEdit", "endDateEdit"})
            log.findChild<QDateEdit *>(QLatin1String(name))->setDate(QDate::currentDate());
        QTest::mouseClick(log.findChild<QPushButton *>(QStringLiteral("readButton")), Qt::LeftButton);
        auto *table = log.findChild<QTableWidget *>();
        QVERIFY(table && table->rowCount() >= 1);
        const QString trapText
            = EventCatalogue::find(AppPaths::cataloguePath())->text(QStringLiteral("Event_English"), 8);
        bool listed = false;
        for (int row = 0; row < table->rowCount(); ++row)
            listed |= table->item(row, 1)->text() == cardA && table->item(row, 2)->text() == trapText;
        QVERIFY(listed);
    }

    // A change in the host dialog reaches the service at once, through polkit; the service then polls the card.
    UpsSim second(QStringLiteral("udp:%1:%2").arg(cardB).arg(portB));
    QVERIFY2(second.start(), qPrintable(second.log()));
    m_bus.resetCalls();
    {
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(cardB);
        dialog.findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(QString::number(portB));
        dialog.findChild<QLineEdit *>(QStringLiteral("communityEdit"))->setText(QStringLiteral("public"));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("sureButton")), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(m_bus.calls().authorizations, QStringList {configureAction});
    QString why;
    QTRY_COMPARE_WITH_TIMEOUT(window.hosts(), (QStringList {cardA, cardB}), 3000);
    QCOMPARE(lamp(window, cardA), QColor(Qt::green)); // kept through the list change
    QTRY_VERIFY_WITH_TIMEOUT(second.requestCount() >= 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardB), QColor(Qt::green), 5000);
    // Bad input and a refused caller change nothing.
    QVERIFY(!client.addHost(v2cHost(QStringLiteral("300.1.1.1"), portB), &why));
    m_bus.setPolkitAnswer(false);
    QVERIFY(!client.removeHost(cardB, &why));
    QVERIFY2(why.contains(QStringLiteral("not authorised")), qPrintable(why));
    m_bus.setPolkitAnswer(true);
    QCOMPARE(window.hosts(), (QStringList {cardA, cardB}));

    // The service goes away: grey lamps and one row; back again, the window follows.
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardA), QColor(Qt::gray), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardB), QColor(Qt::gray), 3000);
    const QString lost
        = QStringLiteral("System|The protection service has stopped; the lamps stay grey until it is back");
    QTRY_COMPARE(rows(window).count(lost), 1);
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardA), QColor(Qt::green), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardB), QColor(Qt::green), 5000);
    QVERIFY(rows(window).contains(QStringLiteral("System|The protection service is back")));
    QCOMPARE(rows(window).count(lost), 1);
    QCOMPARE(m_bus.calls().powerOff.size(), 0);
}

// The same range rows as the dialog's; a refusal keeps the stored value and says why. The application is an
// administrator's choice: its keys ask for an action of their own, which the group's grant does not cover.
void TestService::setSettingChecksTheTable()
{
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    ProtectionClient client(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("settings")));
    m_bus.resetCalls();
    int accepted = 0;
    for (const SettingRow &row : settingRows()) {
        const QString key = QLatin1String(row.key);
        const QVariant before = readSetting(AppPaths::settingsFilePath(), key);
        QString why;
        QCOMPARE(client.setSetting(key, QString::fromLatin1(row.value), &why), row.accepted);
        const QVariant after = readSetting(AppPaths::settingsFilePath(), key);
        if (row.accepted) {
            QCOMPARE(after.toString(), QString::number(QByteArray(row.value).toInt()));
            ++accepted;
        } else {
            QVERIFY2(why.contains(key), qPrintable(QLatin1String(row.name) + QStringLiteral(": ") + why));
            QCOMPARE(after, before);
        }
    }
    // Only what passed the table went to polkit, each for the group's action, the agent allowed to ask.
    const FakeLogind::Calls calls = m_bus.calls();
    QCOMPARE(calls.authorizations.size(), accepted);
    QCOMPARE(calls.authorizations.count(configureAction), accepted);
    QCOMPARE(calls.authorizationFlags.count(1u), accepted);

    const QString trusted = writeShutdownScript(m_app->path(), QStringLiteral("exit 0"));
    const struct
    {
        const char *key;
        QVariant before, value;
        const QString &action;
    } rows[] = {{"system/shutdown_app", QStringLiteral("/opt/ups/before"), trusted, applicationAction},
        {"system/shutdown_app_enable", false, true, applicationAction},
        {"system/shutdown_exec_time", 15, 30, configureAction}, {"system/pop_warning", true, false, configureAction}};
    for (const auto &row : rows) {
        const QString key = QLatin1String(row.key);
        // Allowed, refused for the application alone, refused altogether.
        for (const QStringList &refused : {QStringList(), QStringList {applicationAction}, QStringList {row.action}}) {
            setting(row.key, row.before);
            m_bus.resetCalls();
            m_bus.setPolkitRefusedActions(refused);
            QString why;
            bool unauthorized = false;
            const bool allowed = !refused.contains(row.action);
            QCOMPARE(client.setSetting(key, row.value, &why, &unauthorized), allowed);
            QCOMPARE(unauthorized, !allowed);
            QCOMPARE(m_bus.calls().authorizations, QStringList {row.action});
            QCOMPARE(readSetting(AppPaths::settingsFilePath(), key).toString(),
                (allowed ? row.value : row.before).toString());
            if (!allowed)
                QVERIFY2(why.contains(QStringLiteral("not authorised")), qPrintable(key + QStringLiteral(": ") + why));
        }
    }
    m_bus.setPolkitRefusedActions({});

    const QString script = m_app->path(QStringLiteral("group-writable.sh"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
    QString why;
    QVERIFY(!client.setSetting(QStringLiteral("system/shutdown_app"), script, &why));
    QVERIFY2(why.endsWith(QStringLiteral("writable by the group")), qPrintable(why));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// Secrets go in, never out: Host() says which are stored; a change that leaves them empty keeps them on the
// card's own address, where the card goes on answering the stored community, and nowhere else.
void TestService::hostSecretsStayInTheService()
{
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("secrets"));
    ProtectionClient client(bus);
    const auto capacity = [&client] {
        for (const Protection::Card &card : client.cards()) {
            if (card.host == cardA && Snmp::isKnown(card.data, Snmp::BatteryCapacity))
                return int(static_cast<unsigned char>(card.data.at(Snmp::BatteryCapacity)));
        }
        return -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(capacity() >= 0, 5000);

    const QString cardC = QStringLiteral("127.0.0.3");
    const SNMPInfo v3 = v3Host(
        cardC, portB, Snmp::AuthSha, Snmp::PrivAes, QStringLiteral("operator1"), QStringLiteral("secretsecret"));
    QString why;
    QVERIFY(!client.addHost(v2cHost(cardC, portB, QString()), &why)); // a new card brings its community
    QVERIFY2(why.contains(QStringLiteral("empty community")), qPrintable(why));
    QVERIFY2(client.addHost(v3, &why), qPrintable(why));
    for (const QString &ip : {cardA, cardC}) {
        QDBusMessage call = QDBusMessage::createMethodCall(ProtectionService::serviceName(),
            ProtectionService::objectPath(), QStringLiteral("org.vigilex.Protection1"), QStringLiteral("Host"));
        call << ip;
        const QDBusMessage reply = bus.call(call);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        for (const QVariant &argument : reply.arguments()) {
            for (const QString &secret : {QStringLiteral("public"), v3.userName, v3.password})
                QVERIFY2(!argument.toString().contains(secret), qPrintable(ip));
        }
    }
    SNMPInfo info;
    ProtectionClient::Secrets secrets;
    QVERIFY2(client.host(cardA, &info, &why, &secrets), qPrintable(why));
    QVERIFY(info.community.isEmpty());
    QVERIFY(secrets.community && !secrets.userName && !secrets.password);
    QVERIFY2(client.host(cardC, &info, &why, &secrets), qPrintable(why));
    QCOMPARE(info.authType, int(Snmp::AuthSha));
    QVERIFY(info.userName.isEmpty() && info.password.isEmpty());
    QVERIFY(!secrets.community && secrets.userName && secrets.password);

    QVERIFY2(client.modifyHost(v2cHost(cardA, portA, QString()), cardA, &why), qPrintable(why));
    QVERIFY(HostTable::find(cardA, &info));
    QCOMPARE(info.community, QStringLiteral("public"));
    QVERIFY(m_card->setState(QStringLiteral("capacity"), 77));
    QTRY_COMPARE_WITH_TIMEOUT(capacity(), 77, 5000);
    SNMPInfo edited = v3;
    edited.userName.clear();
    edited.password.clear();
    edited.authType = Snmp::AuthMd5;
    QVERIFY2(client.modifyHost(edited, cardC, &why), qPrintable(why));
    QVERIFY(HostTable::find(cardC, &info));
    QCOMPARE(info.authType, int(Snmp::AuthMd5));
    QCOMPARE(info.userName, v3.userName);
    QCOMPARE(info.password, v3.password);

    // Moved to another address, or switched to the other version, nothing is kept.
    const QString elsewhere = QStringLiteral("127.0.0.4");
    QVERIFY(!client.modifyHost(v2cHost(elsewhere, portA, QString()), cardA, &why));
    QVERIFY2(why.contains(QStringLiteral("empty community")), qPrintable(why));
    edited.ip = elsewhere;
    QVERIFY(!client.modifyHost(edited, cardC, &why));
    QVERIFY2(why.contains(QStringLiteral("user name")), qPrintable(why));
    QVERIFY(!client.modifyHost(v2cHost(cardC, portB, QString()), cardC, &why));
    QVERIFY2(why.contains(QStringLiteral("empty community")), qPrintable(why));
    QVERIFY(HostTable::find(cardA, &info));
    QCOMPARE(info.community, QStringLiteral("public"));
    QVERIFY(HostTable::find(cardC, &info));
    QCOMPARE(info.version, int(Snmp::Usm));
    QVERIFY(!HostTable::exists(elsewhere));

    QVERIFY2(client.removeHost(cardC, &why), qPrintable(why));
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// Events() answers once the store has committed what it holds: the event the service has just taken is listed.
void TestService::eventsListWhatWasJustTaken()
{
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    // The name is taken before the trap port is open.
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("Protection service started")), 5000);
    ProtectionClient client(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("events")));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto traps = [&client, now] {
        QList<ProtectionClient::Event> events;
        if (!client.events(now - 60, now + 60, &events))
            return -1;
        return int(std::count_if(events.cbegin(), events.cend(),
            [](const ProtectionClient::Event &e) { return e.host == cardA && e.event == 8; }));
    };
    const int before = traps();
    QVERIFY(before >= 0);
    const int mark = serviceOutput().size();
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().mid(mark).contains(QStringLiteral("Event from 127.0.0.1: 8")), 5000);
    QCOMPARE(traps(), before + 1);
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// The test run of the application happens in the service, through polkit, and ends in a delayed answer; a
// refused caller and an untrusted file run nothing, and nothing is powered off.
void TestService::testShutdownApplicationRunsInTheService()
{
    setting("shutdown/ac_failed_capacity", 0);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    ProtectionClient client(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("tester")));
    const QString ran = m_app->path(QStringLiteral("my app/tested"));
    QFile::remove(ran);
    const QString script
        = writeShutdownScript(m_app->path(), QStringLiteral("touch \"$(dirname \"$0\")/tested\"; exit 3"));
    m_bus.resetCalls();

    struct Result
    {
        bool done = false;
        int exitCode = 0, exitStatus = 0;
        qint64 elapsedMs = -1;
        QString refusal, error;
        bool unauthorized = false;
    };
    const auto run = [&client](const QString &path) {
        auto result = std::make_shared<Result>();
        client.testShutdownApplication(path, 1, &client,
            [result](int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal, const QString &error,
                bool unauthorized) {
                *result = {true, exitCode, exitStatus, elapsedMs, refusal, error, unauthorized};
            });
        return result;
    };

    auto result = run(script);
    QTRY_VERIFY_WITH_TIMEOUT(result->done, 10000);
    QVERIFY2(result->error.isEmpty(), qPrintable(result->error));
    QCOMPARE(result->exitCode, 3);
    QCOMPARE(result->exitStatus, int(QProcess::NormalExit));
    QVERIFY(result->elapsedMs >= 0 && result->elapsedMs < 10000);
    QVERIFY(result->refusal.isEmpty());
    QVERIFY(QFile::remove(ran));
    QCOMPARE(m_bus.calls().authorizations, QStringList {applicationAction});

    QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup);
    result = run(script);
    QTRY_VERIFY_WITH_TIMEOUT(result->done, 10000);
    QCOMPARE(result->refusal, QStringLiteral("writable by the group"));
    QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Whom the group's grant lets change the cards does not run a program as the service.
    m_bus.setPolkitRefusedActions({applicationAction});
    result = run(script);
    QTRY_VERIFY_WITH_TIMEOUT(result->done, 10000);
    m_bus.setPolkitRefusedActions({});
    QVERIFY2(result->error.contains(QStringLiteral("not authorised")), qPrintable(result->error));
    QVERIFY(result->unauthorized);

    QVERIFY(!QFile::exists(ran));
    QCOMPARE(m_bus.calls().powerOff.size(), 0);
    QCOMPARE(m_bus.calls().otherShutdownCalls, 0);
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// The upkeep of a real minute's outage: an unchanged edit at 20 s and a SIGKILL with a restart at 35 s still run
// the application once, about 60 s after the failure; logind refuses; the mains comes back and the next outage
// runs the whole sequence again.
void TestService::outageOutlastsEditRestartAndRefusal()
{
    QString why;
    FakeLogind::Behaviour refusing;
    refusing.refusePowerOff = true;
    QVERIFY2(m_bus.registerService(refusing, &why), qPrintable(why));
    m_bus.resetCalls();
    setting("shutdown/ac_failed_time", 1);
    setting("shutdown/batt_low_time", 5);
    setting("shutdown/ac_failed_capacity", 0);
    setting("system/shutdown_app_enable", true);
    const QString marks = m_app->path(QStringLiteral("my app/ran"));
    QFile::remove(marks);
    setting("system/shutdown_app",
        writeShutdownScript(m_app->path(), QStringLiteral("echo run >> \"$(dirname \"$0\")/ran\"")));
    const auto runs = [&marks] {
        QFile file(marks);
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    };
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("Protection service started")), 5000);
    QTest::qWait(2500);

    QElapsedTimer sinceFailure;
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    sinceFailure.start();
    QTRY_VERIFY_WITH_TIMEOUT(
        serviceOutput().contains(QStringLiteral("System will be shutdown in 1.0 minute(s)")), 5000);
    while (sinceFailure.elapsed() < 20000)
        QTest::qWait(200);
    {
        ProtectionClient client(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("editor")));
        QVERIFY2(client.modifyHost(v2cHost(cardA, portA), cardA, &why), qPrintable(why));
    }
    while (sinceFailure.elapsed() < 35000)
        QTest::qWait(200);
    ::kill(pid_t(m_service.processId()), SIGKILL);
    QVERIFY(m_service.waitForFinished(5000));
    QVERIFY2(startService(), qPrintable(serviceOutput()));

    QTRY_COMPARE_WITH_TIMEOUT(m_bus.calls().powerOff.size(), 1, 40000);
    const qint64 requestedAt = sinceFailure.elapsed();
    qInfo("power-off requested %lld ms after the mains failed", requestedAt);
    QVERIFY2(requestedAt >= 59000 && requestedAt < 65000, qPrintable(QString::number(requestedAt)));
    QCOMPARE(runs(), 1);
    QVERIFY(!serviceOutput().contains(QStringLiteral("System shutdown is canceled")));
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("System shutdown refused by logind")), 5000);

    // The mains returns: armed again. The next outage, through the capacity rule, runs everything again.
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("the protection is armed again")), 5000);
    setting("shutdown/ac_failed_capacity", 100);
    QVERIFY(m_card->setState(QStringLiteral("capacity"), 99));
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(m_bus.calls().powerOff.size(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(runs(), 2, 5000);

    QVERIFY2(stopService(), qPrintable(serviceOutput()));
    setting("shutdown/ac_failed_capacity", 0);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QFile::remove(AppPaths::shutdownStatePath());
    QVERIFY2(m_bus.registerService(FakeLogind::Behaviour(), &why), qPrintable(why));
}

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestService)

#include "tst_service.moc"
