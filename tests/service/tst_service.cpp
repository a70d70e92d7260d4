#include "engine/enginetest.h"
#include "policy/policyrig.h"

#include "backend/localbackend.h"
#include "policy/systemmessages.h"
#include "protectionproxy.h"
#include "service/busbackend.h"
#include "service/dbustypes.h"
#include "service/protectionservice.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventcatalogue.h"
#include "storage/hosttable.h"
#include "storage/settings.h"
#include "support/cardcases.h"
#include "support/fakelogind.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/serviceprocess.h"
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
#include <QScopeGuard>
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
    void setSettingsIsAllOrNothing();
    void cardRecordsAreCheckedOnce_data();
    void cardRecordsAreCheckedOnce();
    void hostSecretsStayInTheService();
    void eventsListWhatWasJustTaken();
    void testShutdownApplicationRunsInTheService();
    void outageOutlastsEditRestartAndRefusal();

private:
    bool startService();
    bool stopService();
    QString serviceOutput();
    static QStringList rows(MainWindow &window);
    // What a card holds, for comparing; the stored one's is empty when no card has the address.
    static QString record(const SNMPInfo &info);
    static QString storedRecord(const QString &ip);

    FakeLogind m_bus;
    // A front end's calls and what it hears, typed as the interface says.
    std::unique_ptr<ProtectionProxy> m_proxy;
    // The protection in this process, beside the service's, for what both must answer alike.
    std::unique_ptr<LocalBackend> m_local;
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<UpsSim> m_card;
    ServiceProcess m_service;
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

// How a call on the service ended: empty when answered, else the error's name and words.
QString failure(QDBusPendingCall call)
{
    call.waitForFinished();
    return call.isError() ? call.error().name() + QStringLiteral(": ") + call.error().message() : QString();
}

QDBusMessage rawCall(const QDBusConnection &bus, const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(ProtectionService::serviceName(),
        ProtectionService::objectPath(), QStringLiteral("org.vigilex.Protection1"), method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, 20000);
}

QDBusPendingCall addHost(ProtectionProxy &proxy, const SNMPInfo &info)
{
    return proxy.AddHost(
        info.ip, info.port, info.version, info.community, info.authType, info.privType, info.userName, info.password);
}

QDBusPendingCall modifyHost(ProtectionProxy &proxy, const SNMPInfo &info, const QString &oldIp)
{
    return proxy.ModifyHost(oldIp, info.ip, info.port, info.version, info.community, info.authType, info.privType,
        info.userName, info.password);
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

QString TestService::record(const SNMPInfo &info)
{
    const QString where = info.ip + QLatin1Char(':') + QString::number(info.port);
    return info.version == Snmp::CommunityBased ? QStringLiteral("%1 v2c %2").arg(where, info.community)
                                                : QStringLiteral("%1 v%2 %3/%4 %5 %6")
                                                      .arg(where)
                                                      .arg(info.version)
                                                      .arg(info.authType)
                                                      .arg(info.privType)
                                                      .arg(info.userName, info.password);
}

QString TestService::storedRecord(const QString &ip)
{
    SNMPInfo info;
    if (!HostTable::find(ip, &info))
        return QString();
    info.ip = ip;
    return record(info);
}

void TestService::initTestCase()
{
    QString why;
    QVERIFY2(m_bus.startBus(&why), qPrintable(why));
    QVERIFY2(m_bus.registerService(FakeLogind::Behaviour(), &why), qPrintable(why));
    QVERIFY2(m_bus.registerPolkit(true, &why), qPrintable(why));
    registerBusTypes();
    m_proxy = std::make_unique<ProtectionProxy>(ProtectionService::serviceName(), ProtectionService::objectPath(),
        QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("caller")));
    m_proxy->setTimeout(20000);

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
    m_proxy.reset();
    m_local.reset();
}

bool TestService::startService()
{
    // Afresh, also after a test that left it running.
    if (!stopService())
        return false;
    if (!m_service.launch(m_app->path(QStringLiteral("vigilex-service")), m_bus.address()))
        return false;
    // On the bus once the name is taken.
    QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("probe"));
    QElapsedTimer clock;
    clock.start();
    const auto running
        = [&bus] { return bus.interface()->isServiceRegistered(ProtectionService::serviceName()).value(); };
    while (clock.elapsed() < 10000 && !running())
        QTest::qWait(50);
    return running();
}

bool TestService::stopService()
{
    return m_service.end();
}

QString TestService::serviceOutput()
{
    return m_service.output();
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
    QSignalSpy messages(m_proxy.get(), &ProtectionProxy::SystemMessage);
    QTRY_VERIFY_WITH_TIMEOUT(
        serviceOutput().contains(QStringLiteral("Protection service started, watching 1 card(s)")), 5000);
    // Two poll rounds and the first detail read: the trap comes more than a second after the card's first event,
    // whose journal line would otherwise hold it back.
    QTRY_VERIFY_WITH_TIMEOUT(m_card->requestCount() >= 3, 5000);

    // Stored now, listed later by a window that did not exist yet.
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
    // Asked of the store, not of the journal, whose line a card's second event within a second holds back: the
    // detail read makes the card's second request come soon after its first answer.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto stored = [this, now] {
        const QVector<StoredEvent> events = m_proxy->Events(now - 60, now + 60).value();
        return std::any_of(
            events.cbegin(), events.cend(), [](const StoredEvent &e) { return e.host == cardA && e.event == 8; });
    };
    QTRY_VERIFY2_WITH_TIMEOUT(stored(), qPrintable(serviceOutput()), 5000);

    QVERIFY(m_card->setState(QStringLiteral("capacity"), 99));
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(m_bus.calls().powerOff.size(), 1, 10000);
    QCOMPARE(m_bus.calls().powerOff.first(), false); // never interactive
    QVERIFY(QFile::exists(m_app->path(QStringLiteral("my app/ran"))));
    QTRY_VERIFY(serviceOutput().contains(QStringLiteral("Start to executing shutdown application.")));
    // A front end gets the message's id and arguments, to show it in its own language.
    QTRY_VERIFY(std::any_of(messages.cbegin(), messages.cend(), [](const QList<QVariant> &signal) {
        return signal.value(0).toString() == QLatin1String(SystemMessages::applicationStarting)
            && signal.value(1).toStringList().isEmpty();
    }));
    // Further failed reports do not ask again.
    QTest::qWait(2500);
    QCOMPARE(m_bus.calls().powerOff.size(), 1);
    QCOMPARE(m_bus.calls().otherShutdownCalls, 0);

    QVERIFY2(stopService(), qPrintable(serviceOutput()));
    QVERIFY(m_service.output().contains(QStringLiteral("Protection service stopping")));
}

void TestService::frontEndFollowsTheService()
{
    setting("shutdown/ac_failed_capacity", 0);
    setting("system/shutdown_app_enable", false);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));

    BusBackend backend(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("frontend")));
    MainWindow window(&backend);
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardA), QColor(Qt::green), 5000);

    {
        // The log dialog lists what the service stored before this window existed.
        LogDialog log(&backend);
        for (const char *name : {"startDateEdit", "endDateEdit"})
            log.findChild<QDateEdit *>(QLatin1String(name))->setDate(QDate::currentDate());
        auto *read = log.findChild<QPushButton *>(QStringLiteral("readButton"));
        QTRY_VERIFY_WITH_TIMEOUT(read->isEnabled(), 5000);
        QTest::mouseClick(read, Qt::LeftButton);
        auto *table = log.findChild<QTableWidget *>();
        QVERIFY(table);
        QTRY_VERIFY_WITH_TIMEOUT(table->rowCount() >= 1, 5000);
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
        AddHostDialog dialog(&backend);
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(cardB);
        dialog.findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(QString::number(portB));
        dialog.findChild<QLineEdit *>(QStringLiteral("communityEdit"))->setText(QStringLiteral("public"));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("sureButton")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 5000);
    }
    QCOMPARE(m_bus.calls().authorizations, QStringList {configureAction});
    QString why;
    QTRY_COMPARE_WITH_TIMEOUT(window.hosts(), (QStringList {cardA, cardB}), 3000);
    QCOMPARE(lamp(window, cardA), QColor(Qt::green)); // kept through the list change
    QTRY_VERIFY_WITH_TIMEOUT(second.requestCount() >= 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lamp(window, cardB), QColor(Qt::green), 5000);
    // Bad input and a refused caller change nothing.
    why = failure(addHost(*m_proxy, v2cHost(QStringLiteral("300.1.1.1"), portB)));
    QVERIFY2(why.startsWith(ProtectionService::invalidArgumentError()), qPrintable(why));
    m_bus.setPolkitAnswer(false);
    why = failure(m_proxy->RemoveHost(cardB));
    QVERIFY2(why.startsWith(ProtectionService::notAuthorizedError()), qPrintable(why));
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
    QSignalSpy changed(m_proxy.get(), &ProtectionProxy::SettingChanged);
    const auto set = [this](const QString &key, const QVariant &value) {
        return failure(m_proxy->SetSetting(key, QDBusVariant(value)));
    };
    m_bus.resetCalls();
    int accepted = 0;
    for (const SettingRow &row : settingRows()) {
        const QString key = QLatin1String(row.key);
        const QVariant before = readSetting(AppPaths::settingsFilePath(), key);
        const QString why = set(key, QString::fromLatin1(row.value));
        QCOMPARE(why.isEmpty(), row.accepted);
        const QVariant after = readSetting(AppPaths::settingsFilePath(), key);
        if (row.accepted) {
            QCOMPARE(after.toString(), QString::number(QByteArray(row.value).toInt()));
            ++accepted;
        } else {
            QVERIFY2(why.startsWith(ProtectionService::invalidArgumentError()), qPrintable(why));
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
        {"system/shutdown_exec_time", 15, 30, configureAction},
        // The server's keys open a port or grant access: an administrator's, as the application's.
        {"nut/fsd_wait", 15, 30, applicationAction},
        {"nut/users", QString(), QStringLiteral(R"([{"name":"watcher","password":"w4tch","role":"secondary"}])"),
            applicationAction},
        {"system/pop_warning", true, false, configureAction}};
    for (const auto &row : rows) {
        const QString key = QLatin1String(row.key);
        // Allowed, refused for the application alone, refused altogether.
        for (const QStringList &refused : {QStringList(), QStringList {applicationAction}, QStringList {row.action}}) {
            setting(row.key, row.before);
            m_bus.resetCalls();
            m_bus.setPolkitRefusedActions(refused);
            const bool allowed = !refused.contains(row.action);
            const QString why = set(key, row.value);
            QCOMPARE(why.isEmpty(), allowed);
            QCOMPARE(why.startsWith(ProtectionService::notAuthorizedError()), !allowed);
            QCOMPARE(m_bus.calls().authorizations, QStringList {row.action});
            QCOMPARE(readSetting(AppPaths::settingsFilePath(), key).toString(),
                (allowed ? row.value : row.before).toString());
            if (!allowed)
                QVERIFY2(why.contains(QStringLiteral("not authorised")), qPrintable(key + QStringLiteral(": ") + why));
            else
                ++accepted;
        }
    }
    m_bus.setPolkitRefusedActions({});

    const QString script = m_app->path(QStringLiteral("group-writable.sh"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
    const QString why = set(QStringLiteral("system/shutdown_app"), script);
    QVERIFY2(why.endsWith(QStringLiteral("writable by the group")), qPrintable(why));

    // Every write that was made, and only those, told the front ends.
    QTRY_COMPARE(changed.size(), accepted);
    QCOMPARE(changed.last().value(0).toString(), QStringLiteral("system/pop_warning"));
    QCOMPARE(changed.last().value(1).toBool(), true);
    QCOMPARE(changed.last().value(2).value<QDBusVariant>().variant(), QVariant(false));
    // A password goes in, never out: neither in the answer nor in the signal.
    QVERIFY(set(
        QStringLiteral("nut/users"), QStringLiteral(R"([{"name":"watcher","password":"w4tch","role":"secondary"}])"))
                .isEmpty());
    QTRY_COMPARE(changed.size(), accepted + 1);
    QDBusPendingReply<QVariantMap> users = m_proxy->Settings({QStringLiteral("nut/users")});
    users.waitForFinished();
    QCOMPARE(users.value().value(QStringLiteral("nut/users")).toString(),
        QStringLiteral(R"([{"name":"watcher","password":"","role":"secondary"}])"));
    for (const QList<QVariant> &signal : qAsConst(changed))
        QVERIFY(!signal.value(2).value<QDBusVariant>().variant().toString().contains(QStringLiteral("w4tch")));
    // Sent back as it came, the stored password stays; a new user without one is refused.
    QVERIFY(set(QStringLiteral("nut/users"), users.value().value(QStringLiteral("nut/users"))).isEmpty());
    QVERIFY(readSetting(AppPaths::settingsFilePath(), QStringLiteral("nut/users"))
                .toString()
                .contains(QStringLiteral("w4tch")));
    QVERIFY(set(QStringLiteral("nut/users"), QStringLiteral(R"([{"name":"new","password":"","role":"primary"}])"))
                .contains(QStringLiteral("new has no password")));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// A batch is checked whole before polkit is asked, and written whole or not at all; a key of the shutdown
// application in it puts the whole batch under the application's action.
void TestService::setSettingsIsAllOrNothing()
{
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    const QString capacity = QStringLiteral("shutdown/ac_failed_capacity");
    const QString popUp = QStringLiteral("system/pop_warning");
    const QString enable = QStringLiteral("system/shutdown_app_enable");
    const QString application = QStringLiteral("system/shutdown_app");
    const QString untrusted = m_app->path(QStringLiteral("group-writable.sh"));
    QFile file(untrusted);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
    const QVariantMap before {{capacity, 20}, {popUp, true}, {enable, false}, {application, QStringLiteral("/a")}};
    QSignalSpy changed(m_proxy.get(), &ProtectionProxy::SettingChanged);
    QStringList announced;
    const struct
    {
        const char *name;
        QVariantMap values;
        QStringList refusedActions;
        QString refusal; // empty: written
        QStringList asked;
    } rows[] = {
        {"one value out of range", {{capacity, 50}, {QStringLiteral("system/shutdown_exec_time"), 91}}, {},
            QStringLiteral("system/shutdown_exec_time"), {}},
        {"unknown key", {{capacity, 50}, {QStringLiteral("system/nonsense"), 1}}, {}, QStringLiteral("system/nonsense"),
            {}},
        {"untrusted application", {{capacity, 50}, {application, untrusted}}, {},
            QStringLiteral("writable by the group"), {}},
        {"the application's action refused", {{capacity, 50}, {enable, true}}, {applicationAction},
            QStringLiteral("not authorised"), {applicationAction}},
        {"the group's action refused", {{capacity, 50}, {popUp, false}}, {configureAction},
            QStringLiteral("not authorised"), {configureAction}},
        {"the group's keys", {{capacity, 50}, {popUp, false}}, {applicationAction}, {}, {configureAction}},
        {"with the application's key", {{capacity, 40}, {enable, true}}, {}, {}, {applicationAction}},
    };
    for (const auto &row : rows) {
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            writeSetting(AppPaths::settingsFilePath(), it.key(), it.value());
        const auto stored = [&row] {
            QStringList values;
            for (auto it = row.values.cbegin(); it != row.values.cend(); ++it)
                values.append(
                    it.key() + QLatin1Char('=') + readSetting(AppPaths::settingsFilePath(), it.key()).toString());
            return values;
        };
        const QStringList was = stored();
        m_bus.resetCalls();
        m_bus.setPolkitRefusedActions(row.refusedActions);
        const QString why = failure(m_proxy->SetSettings(row.values));
        const QString name = QLatin1String(row.name);
        QCOMPARE(m_bus.calls().authorizations.join(QLatin1Char(' ')), row.asked.join(QLatin1Char(' ')));
        QStringList taken;
        for (auto it = row.values.cbegin(); it != row.values.cend(); ++it)
            taken.append(it.key() + QLatin1Char('=') + it.value().toString());
        QCOMPARE(stored().join(QLatin1Char(' ')), (row.refusal.isEmpty() ? taken : was).join(QLatin1Char(' ')));
        if (row.refusal.isEmpty()) {
            QVERIFY2(why.isEmpty(), qPrintable(name + QStringLiteral(": ") + why));
            announced += taken;
        } else {
            QVERIFY2(why.contains(row.refusal), qPrintable(name + QStringLiteral(": ") + why));
        }
    }
    m_bus.setPolkitRefusedActions({});
    QTRY_COMPARE(changed.size(), announced.size());
    QStringList heard;
    for (const QList<QVariant> &signal : changed) {
        QVERIFY(signal.value(1).toBool());
        heard.append(
            signal.value(0).toString() + QLatin1Char('=') + signal.value(2).value<QDBusVariant>().variant().toString());
    }
    QCOMPARE(heard, announced);

    // Read back in one call, in the keys' types; a key the table does not know is refused.
    QDBusPendingReply<QVariantMap> read = m_proxy->Settings({capacity, popUp});
    read.waitForFinished();
    QVERIFY2(!read.isError(), qPrintable(read.error().message()));
    QCOMPARE(read.value().value(capacity), QVariant(40));
    QCOMPARE(read.value().value(popUp).toBool(), true);
    QCOMPARE(read.value().size(), 2);
    const QString why = failure(m_proxy->Settings({capacity, QStringLiteral("system/nonsense")}));
    QVERIFY2(why.startsWith(ProtectionService::invalidArgumentError()), qPrintable(why));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// The card records of the shared table, through both writers of the host table: the protection in this process
// (as the window alone has it) and the service's AddHost and ModifyHost. The same answers from both; on the bus
// what the arguments alone refuse goes back before polkit is asked; nothing stored but what was taken.
void TestService::cardRecordsAreCheckedOnce_data()
{
    QTest::addColumn<bool>("bus");
    QTest::addColumn<int>("index");
    for (const bool bus : {false, true}) {
        for (int i = 0; i < CardCases::all().size(); ++i) {
            const QByteArray name = (bus ? "bus: " : "local: ") + QByteArray(CardCases::all().at(i).name);
            QTest::newRow(name.constData()) << bus << i;
        }
    }
}

void TestService::cardRecordsAreCheckedOnce()
{
    QFETCH(bool, bus);
    QFETCH(int, index);
    const CardCases::Case &c = CardCases::all().at(index);
    std::function<QString(const SNMPInfo &info, const QString &oldIp)> store;
    std::function<void(const QString &ip)> remove;
    if (bus) {
        if (m_service.state() != QProcess::Running)
            QVERIFY2(startService(), qPrintable(serviceOutput()));
        store = [this](const SNMPInfo &info, const QString &oldIp) {
            return failure(oldIp.isEmpty() ? addHost(*m_proxy, info) : modifyHost(*m_proxy, info, oldIp));
        };
        remove = [this](const QString &ip) { failure(m_proxy->RemoveHost(ip)); };
    } else {
        if (!m_local)
            m_local = std::make_unique<LocalBackend>();
        store = [this](const SNMPInfo &info, const QString &oldIp) {
            const BackendReply reply
                = oldIp.isEmpty() ? m_local->addHostNow(info) : m_local->modifyHostNow(info, oldIp);
            return reply.ok ? QString() : reply.error;
        };
        remove = [this](const QString &ip) { m_local->removeHostNow(ip); };
    }
    const QList<SNMPInfo> stored {CardCases::storedCommunityCard(), CardCases::storedUsmCard()};
    const auto cleanUp = qScopeGuard([&remove, &stored, &c] {
        for (const QString &ip : {stored.at(0).ip, stored.at(1).ip, CardCases::newAddress, c.entered.ip}) {
            if (HostTable::exists(ip))
                remove(ip);
        }
    });
    for (const SNMPInfo &card : stored)
        QCOMPARE(store(card, QString()), QString());

    m_bus.resetCalls();
    const QString why = store(c.entered, c.oldIp);
    if (c.refusal.isEmpty()) {
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(storedRecord(c.entered.ip), record(CardCases::expectedStored(c)));
        if (!c.oldIp.isEmpty() && c.oldIp != c.entered.ip)
            QVERIFY(!HostTable::exists(c.oldIp));
        return;
    }
    QVERIFY2(why.contains(c.refusal), qPrintable(why));
    if (bus) {
        QVERIFY2(!why.startsWith(ProtectionService::notAuthorizedError()), qPrintable(why));
        // What the arguments alone decide is refused before anyone is asked for a password.
        const bool byArguments = !LocalBackend::hostRefusal(c.entered, c.oldIp).isEmpty();
        QCOMPARE(why.startsWith(ProtectionService::invalidArgumentError()), byArguments);
        QCOMPARE(m_bus.calls().authorizations, byArguments ? QStringList() : QStringList {configureAction});
    }
    for (const SNMPInfo &card : stored)
        QCOMPARE(storedRecord(card.ip), record(card));
    if (c.entered.ip != stored.at(0).ip && c.entered.ip != stored.at(1).ip)
        QVERIFY(!HostTable::exists(c.entered.ip));
}

// Secrets go in, never out: Host() says which are stored; a change that leaves them empty keeps them on the
// card's own address, where the card goes on answering the stored community, and nowhere else.
void TestService::hostSecretsStayInTheService()
{
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    const QDBusConnection bus = m_proxy->connection();
    const auto capacity = [this] {
        QDBusPendingReply<QList<CardState>> cards = m_proxy->Cards();
        cards.waitForFinished();
        for (const CardState &card : cards.value()) {
            if (card.host == cardA && Snmp::isKnown(card.data, Snmp::BatteryCapacity))
                return int(static_cast<unsigned char>(card.data.at(Snmp::BatteryCapacity)));
        }
        return -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(capacity() >= 0, 5000);

    const QString cardC = QStringLiteral("127.0.0.3");
    const SNMPInfo v3 = v3Host(
        cardC, portB, Snmp::AuthSha, Snmp::PrivAes, QStringLiteral("operator1"), QStringLiteral("secretsecret"));
    // A new card brings its community.
    QString why = failure(addHost(*m_proxy, v2cHost(cardC, portB, QString())));
    QVERIFY2(why.contains(QStringLiteral("community")), qPrintable(why));
    why = failure(addHost(*m_proxy, v3));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    for (const QString &ip : {cardA, cardC}) {
        const QDBusMessage reply = rawCall(bus, QStringLiteral("Host"), {ip});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        for (const QVariant &argument : reply.arguments()) {
            for (const QString &secret : {QStringLiteral("public"), v3.userName, v3.password})
                QVERIFY2(!argument.toString().contains(secret), qPrintable(ip));
        }
    }
    // All stored cards in one call, whose only text is the address: the flags say which secrets are stored.
    const QDBusMessage hosts = rawCall(bus, QStringLiteral("Hosts"));
    QCOMPARE(hosts.signature(), QStringLiteral("a(siiiibbb)"));
    QHash<QString, StoredCard> listed;
    for (const StoredCard &card : qdbus_cast<QList<StoredCard>>(hosts.arguments().value(0)))
        listed.insert(card.info.ip, card);
    QCOMPARE(listed.size(), HostTable::all().size());
    QCOMPARE(listed.value(cardA).info.port, portA);
    QCOMPARE(listed.value(cardA).info.version, int(Snmp::CommunityBased));
    QVERIFY(listed.value(cardA).communitySet && !listed.value(cardA).userNameSet && !listed.value(cardA).passwordSet);
    QCOMPARE(listed.value(cardC).info.authType, int(Snmp::AuthSha));
    QCOMPARE(listed.value(cardC).info.privType, int(Snmp::PrivAes));
    QVERIFY(!listed.value(cardC).communitySet && listed.value(cardC).userNameSet && listed.value(cardC).passwordSet);
    // The cards as the protection knows them now, typed.
    const QDBusMessage cards = rawCall(bus, QStringLiteral("Cards"));
    QCOMPARE(cards.signature(), QStringLiteral("a(sibay)"));
    const QList<CardState> states = qdbus_cast<QList<CardState>>(cards.arguments().value(0));
    QCOMPARE(states.size(), listed.size());
    QCOMPARE(states.first().host, cardA);
    QCOMPARE(states.first().status, int(Snmp::Online));
    QVERIFY(!states.first().authenticationFailed);
    QCOMPARE(states.first().data.size(), Snmp::DataArraySize);
    QCOMPARE(states.last().host, cardC);

    SNMPInfo info;
    why = failure(modifyHost(*m_proxy, v2cHost(cardA, portA, QString()), cardA));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(HostTable::find(cardA, &info));
    QCOMPARE(info.community, QStringLiteral("public"));
    QVERIFY(m_card->setState(QStringLiteral("capacity"), 77));
    QTRY_COMPARE_WITH_TIMEOUT(capacity(), 77, 5000);
    SNMPInfo edited = v3;
    edited.userName.clear();
    edited.password.clear();
    edited.authType = Snmp::AuthMd5;
    why = failure(modifyHost(*m_proxy, edited, cardC));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(HostTable::find(cardC, &info));
    QCOMPARE(info.authType, int(Snmp::AuthMd5));
    QCOMPARE(info.userName, v3.userName);
    QCOMPARE(info.password, v3.password);

    // Moved to another address, or switched to the other version, nothing is kept.
    const QString elsewhere = QStringLiteral("127.0.0.4");
    why = failure(modifyHost(*m_proxy, v2cHost(elsewhere, portA, QString()), cardA));
    QVERIFY2(why.contains(QStringLiteral("community")), qPrintable(why));
    edited.ip = elsewhere;
    why = failure(modifyHost(*m_proxy, edited, cardC));
    QVERIFY2(why.contains(QStringLiteral("user name")), qPrintable(why));
    why = failure(modifyHost(*m_proxy, v2cHost(cardC, portB, QString()), cardC));
    QVERIFY2(why.contains(QStringLiteral("community")), qPrintable(why));
    QVERIFY(HostTable::find(cardA, &info));
    QCOMPARE(info.community, QStringLiteral("public"));
    QVERIFY(HostTable::find(cardC, &info));
    QCOMPARE(info.version, int(Snmp::Usm));
    QVERIFY(!HostTable::exists(elsewhere));

    QCOMPARE(failure(m_proxy->RemoveHost(cardC)), QString());
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// Events() answers once the store has committed what it holds: the event the service has just taken is listed.
void TestService::eventsListWhatWasJustTaken()
{
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    // The name is taken before the trap port is open.
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("Protection service started")), 5000);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto traps = [this, now] {
        const QDBusMessage reply = rawCall(m_proxy->connection(), QStringLiteral("Events"), {now - 60, now + 60});
        if (reply.signature() != QLatin1String("a(xsi)"))
            return -1;
        const QVector<StoredEvent> events = qdbus_cast<QVector<StoredEvent>>(reply.arguments().value(0));
        return int(std::count_if(events.cbegin(), events.cend(),
            [now](const StoredEvent &e) { return e.host == cardA && e.event == 8 && qAbs(e.date - now) <= 60; }));
    };
    const int before = traps();
    QVERIFY(before >= 0);
    const int mark = serviceOutput().size();
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().mid(mark).contains(QStringLiteral("Event from 127.0.0.1: 8")), 5000);
    QCOMPARE(traps(), before + 1);

    // Beside the events: every listed card's details, in the order of the host table, and a card's minutes,
    // typed as the interface says; a range that ends before it starts holds nothing.
    const QDBusMessage details = rawCall(m_proxy->connection(), QStringLiteral("Details"));
    QCOMPARE(details.signature(), QStringLiteral("a(sxsiiiiiiiii)"));
    QStringList detailed, listed;
    for (const CardDetails &record : qdbus_cast<QList<CardDetails>>(details.arguments().value(0)))
        detailed.append(record.host);
    for (const SNMPInfo &info : HostTable::all())
        listed.append(info.ip);
    QCOMPARE(detailed, listed);
    for (const auto &range : {qMakePair(now - 60, now + 60), qMakePair(now + 60, now - 60)}) {
        const QDBusMessage history
            = rawCall(m_proxy->connection(), QStringLiteral("History"), {cardA, range.first, range.second});
        QCOMPARE(history.signature(), QStringLiteral("a(xiiii)"));
        if (range.first > range.second)
            QVERIFY(qdbus_cast<QVector<HistorySample>>(history.arguments().value(0)).isEmpty());
    }
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// The test run of the application happens in the service, through polkit, and ends in a delayed answer; a
// refused caller and an untrusted file run nothing, and nothing is powered off.
void TestService::testShutdownApplicationRunsInTheService()
{
    setting("shutdown/ac_failed_capacity", 0);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    const QString ran = m_app->path(QStringLiteral("my app/tested"));
    QFile::remove(ran);
    const QString script
        = writeShutdownScript(m_app->path(), QStringLiteral("touch \"$(dirname \"$0\")/tested\"; exit 3"));
    m_bus.resetCalls();

    struct Result
    {
        int exitCode = 0, exitStatus = 0;
        qint64 elapsedMs = -1;
        QString refusal, error;
    };
    const auto run = [this](const QString &path) {
        QDBusPendingReply<int, int, qlonglong, QString> reply = m_proxy->TestShutdownApplication(path, 1);
        reply.waitForFinished();
        if (reply.isError())
            return Result {-1, 0, 0, QString(), failure(reply)};
        return Result {reply.argumentAt<0>(), reply.argumentAt<1>(), reply.argumentAt<2>(), reply.argumentAt<3>(), {}};
    };

    Result result = run(script);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.exitCode, 3);
    QCOMPARE(result.exitStatus, int(QProcess::NormalExit));
    QVERIFY(result.elapsedMs >= 0 && result.elapsedMs < 10000);
    QVERIFY(result.refusal.isEmpty());
    QVERIFY(QFile::remove(ran));
    QCOMPARE(m_bus.calls().authorizations, QStringList {applicationAction});

    QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup);
    result = run(script);
    QCOMPARE(result.refusal, QStringLiteral("writable by the group"));
    QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Whom the group's grant lets change the cards does not run a program as the service.
    m_bus.setPolkitRefusedActions({applicationAction});
    result = run(script);
    m_bus.setPolkitRefusedActions({});
    QVERIFY2(result.error.contains(QStringLiteral("not authorised")), qPrintable(result.error));
    QVERIFY2(result.error.startsWith(ProtectionService::notAuthorizedError()), qPrintable(result.error));

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
    QSignalSpy messages(m_proxy.get(), &ProtectionProxy::SystemMessage);
    QSignalSpy refusals(m_proxy.get(), &ProtectionProxy::ShutdownRefusalChanged);
    const auto refusalNow = [this]() -> QString {
        QDBusPendingReply<qlonglong, QString, QStringList> state = m_proxy->State();
        state.waitForFinished();
        if (state.isError())
            return failure(state);
        return state.argumentAt<1>() + QLatin1Char('|') + state.argumentAt<2>().join(QLatin1Char('|'));
    };
    QCOMPARE(refusalNow(), QStringLiteral("|"));
    QTest::qWait(2500);

    QElapsedTimer sinceFailure;
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    sinceFailure.start();
    QTRY_VERIFY_WITH_TIMEOUT(
        serviceOutput().contains(QStringLiteral("System will be shutdown in 1.0 minute(s)")), 5000);
    // The message as its id and argument, with the countdown it started.
    QTRY_VERIFY(!messages.isEmpty());
    QCOMPARE(messages.first().value(0).toString(), QLatin1String(SystemMessages::countdownStarted));
    QCOMPARE(messages.first().value(1).toStringList(), QStringList {QStringLiteral("1.0")});
    QVERIFY2(messages.first().value(2).toLongLong() > 50000 && messages.first().value(2).toLongLong() <= 60000,
        qPrintable(messages.first().value(2).toString()));
    while (sinceFailure.elapsed() < 20000)
        QTest::qWait(200);
    why = failure(modifyHost(*m_proxy, v2cHost(cardA, portA), cardA));
    QVERIFY2(why.isEmpty(), qPrintable(why));
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
    // The standing refusal: announced once, and what State gives a front end that comes later.
    QTRY_COMPARE(refusals.size(), 1);
    QCOMPARE(refusals.first().value(0).toString(), QLatin1String(SystemMessages::powerOffRefused));
    QCOMPARE(refusals.first().value(1).toStringList().size(), 1);
    QCOMPARE(refusalNow(),
        QLatin1String(SystemMessages::powerOffRefused) + QLatin1Char('|')
            + refusals.first().value(1).toStringList().first());

    // The mains returns: armed again. The next outage, through the capacity rule, runs everything again.
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QTRY_VERIFY_WITH_TIMEOUT(serviceOutput().contains(QStringLiteral("the protection is armed again")), 5000);
    QTRY_COMPARE(refusals.size(), 2);
    QCOMPARE(refusals.last().value(0).toString(), QString());
    QCOMPARE(refusalNow(), QStringLiteral("|"));
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
