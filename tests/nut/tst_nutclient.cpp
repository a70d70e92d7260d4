#include "backend/localbackend.h"
#include "nut/nutclient.h"
#include "nut/nutquery.h"
#include "nut/nutserver.h"
#include "policy/protection.h"
#include "snmp/engineclock.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "storage/database.h"
#include "support/fakelogind.h"
#include "support/scratchapp.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <optional>

namespace {
const QString upsdHost = QStringLiteral("127.0.0.1"); // Debian's upsd with the dummy-ups driver
const QString vigilexHost = QStringLiteral("127.0.0.3"); // our own server, answering for card
const QString card = QStringLiteral("127.0.1.2");

SNMPInfo upsServer(const QString &ip, int port, const QString &ups, const QString &user, const QString &password)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = Snmp::NetworkUps;
    info.community = ups;
    info.userName = user;
    info.password = password;
    return info;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

std::atomic<qint64> fakeNow {0};
} // namespace

// The window alone following a network UPS server: Debian's upsd serving a dummy-ups status file, and another
// Vigilex's server. Their status comes to the protection as an SNMP card's poll would.
class TestNutClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void follows_data();
    void follows();
    void query_data();
    void query();
    void silence();

private:
    void writeStatus(const QString &status, const QString &charge);
    bool startDriver();

    std::unique_ptr<FakeLogind> m_logind;
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<LocalBackend> m_backend;
    std::unique_ptr<SNMP> m_engine;
    std::unique_ptr<NutServer> m_server;
    QTemporaryDir m_nut;
    quint16 m_port = 0;
    QProcess m_driver;
    QProcess m_upsd;
};

void TestNutClient::writeStatus(const QString &status, const QString &charge)
{
    QFile file(m_nut.filePath(QStringLiteral("u1.dev")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("ups.status: %1\nbattery.charge: %2\nbattery.runtime: 1260\nups.load: 23\n"
                              "input.voltage: 230.4\n")
                   .arg(status, charge)
                   .toUtf8());
}

void TestNutClient::initTestCase()
{
    // FSD powers this machine off: only ever through the recording logind on a bus of the test's own.
    m_logind = std::make_unique<FakeLogind>();
    QString error;
    QVERIFY2(m_logind->startAsSystemBus(&error), qPrintable(error));
    QVERIFY2(m_logind->registerService(FakeLogind::Behaviour(), &error), qPrintable(error));

    QVERIFY2(QFile::exists(QStringLiteral("/lib/nut/upsd")), "upsd (nut-server) is not installed");
    QVERIFY(m_nut.isValid());
    m_port = freePort();
    const auto put = [this](const char *name, const QByteArray &text) {
        QFile file(m_nut.filePath(QLatin1String(name)));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    QVERIFY(put("nut.conf", "MODE=netserver\n"));
    QVERIFY(put("ups.conf", "[u1]\n  driver = dummy-ups\n  port = u1.dev\n  desc = \"test\"\n"));
    QVERIFY(put("upsd.conf", "LISTEN 127.0.0.1 " + QByteArray::number(m_port) + "\n"));
    QVERIFY(put("upsd.users",
        "[mon]\n  password = secret1\n  upsmon secondary\n[boss]\n  password = secret2\n  upsmon primary\n"));
    writeStatus(QStringLiteral("OL"), QStringLiteral("100"));

    // Both run as root in the sandbox's state directory: no PID file, socket or user of the system's own.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"NUT_CONFPATH", "NUT_STATEPATH", "NUT_ALTPIDPATH"})
        env.insert(QLatin1String(name), m_nut.path());
    m_driver.setProcessEnvironment(env);
    m_upsd.setProcessEnvironment(env);
    m_driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_driver.start(QStringLiteral("/lib/nut/dummy-ups"),
        {QStringLiteral("-a"), QStringLiteral("u1"), QStringLiteral("-u"), QStringLiteral("root"),
            QStringLiteral("-F")});
    QVERIFY(m_driver.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_nut.filePath(QStringLiteral("dummy-ups-u1"))), 10000);
    m_upsd.start(QStringLiteral("/lib/nut/upsd"), {QStringLiteral("-F"), QStringLiteral("-u"), QStringLiteral("root")});
    QVERIFY(m_upsd.waitForStarted());

    m_app = std::make_unique<ScratchApp>();
    Database::instance()->createTables();
    m_backend = std::make_unique<LocalBackend>();
    m_engine = std::make_unique<SNMP>();
    m_backend->setEngine(m_engine.get());

    // The card our server answers for: its data set as a poll would have.
    SNMPInfo snmpCard;
    snmpCard.ip = card;
    snmpCard.port = 161;
    snmpCard.community = QStringLiteral("public");
    QVERIFY(m_backend->addHostNow(snmpCard).ok);
    m_server = std::make_unique<NutServer>(m_backend.get());
    m_server->setUsers({{QStringLiteral("mon"), QStringLiteral("pw")}});
    QString why;
    QVERIFY2(m_server->listen(QHostAddress(vigilexHost), 0, &why), qPrintable(why));

    QVERIFY(m_backend
                ->addHostNow(
                    upsServer(upsdHost, m_port, QStringLiteral("u1"), QStringLiteral("mon"), QStringLiteral("secret1")))
                .ok);
    QVERIFY(m_backend
                ->addHostNow(upsServer(vigilexHost, m_server->port(), QStringLiteral("ups-127-0-1-2"),
                    QStringLiteral("mon"), QStringLiteral("pw")))
                .ok);
    // Neither kind of host is an SNMP session.
    QCOMPARE(m_engine->manager()->sessionCount(), 1);
    QCOMPARE(m_engine->upsClient()->peers().size(), 2);
    // The SNMP engine stays stopped (the card's poll is the test's); the client polls.
    m_engine->upsClient()->startPolling();
}

void TestNutClient::cleanupTestCase()
{
    EngineClock::setSource({});
    m_server.reset();
    m_backend.reset();
    m_engine.reset();
    m_app.reset();
    m_logind.reset();
    for (QProcess *process : {&m_upsd, &m_driver}) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(5000);
    }
}

void TestNutClient::follows_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("status"); // what the server's UPS says (our server: its card's data, in hex)
    QTest::addColumn<QString>("charge");
    QTest::addColumn<QByteArray>("data"); // what the protection holds for the host
    QTest::addColumn<bool>("forced"); // the server ordered the followers down
    QTest::addColumn<int>("event"); // an event the change must bring, as the card's notification would; 0 none

    const auto data = [](int battery, int input, int output, int capacity) {
        const char bytes[] = {char(battery), char(input), char(output), char(capacity), char(Snmp::AllKnown)};
        return QByteArray(bytes, sizeof bytes);
    };
    QTest::newRow("upsd: on line") << upsdHost << "OL"
                                   << "100" << data(2, 0, 2, 100) << false << 0;
    QTest::newRow("upsd: on battery, mains failure") << upsdHost << "OB"
                                                     << "80" << data(2, 1, 3, 80) << false << 0x06;
    QTest::newRow("upsd: on battery, battery low") << upsdHost << "OB LB"
                                                   << "9" << data(3, 1, 3, 9) << false << 0x08;
    QTest::newRow("upsd: a primary forces the shutdown") << upsdHost << "FSD"
                                                         << "9" << data(3, 1, 3, 9) << true << 0;
    QTest::newRow("Vigilex follows a Vigilex: battery low") << vigilexHost << "0301030a"
                                                            << "" << data(3, 1, 3, 10) << false << 0x08;
    QTest::newRow("Vigilex follows a Vigilex: on line") << vigilexHost << "02000250"
                                                        << "" << data(2, 0, 2, 80) << false << 0x0A;
}

void TestNutClient::follows()
{
    QFETCH(QString, host);
    QFETCH(QString, status);
    QFETCH(QString, charge);
    QFETCH(QByteArray, data);
    QFETCH(bool, forced);
    QFETCH(int, event);

    QSignalSpy eventSpy(m_backend->protection(), &Protection::eventArrived);
    QSignalSpy forcedSpy(m_engine.get(), &SNMP::forcedShutdown);
    const int powerOffs = m_logind->calls().powerOff.size();
    Protection *protection = m_backend->protection();
    if (host == vigilexHost) {
        protection->handleSNMPStatus(card, Snmp::Online);
        protection->handleSNMPData(card, QByteArray::fromHex(status.toLatin1()));
    } else if (status == QLatin1String("FSD")) {
        // As upsmon on the UPS's own machine asks for it: upsd then adds FSD to the status it serves.
        QTcpSocket socket;
        socket.connectToHost(upsdHost, m_port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write("USERNAME boss\nPASSWORD secret2\nLOGIN u1\nFSD u1\n");
        QByteArray answers;
        QTRY_VERIFY_WITH_TIMEOUT((answers += socket.readAll()).count('\n') >= 4, 5000);
        QVERIFY2(answers.endsWith("OK FSD-SET\n"), answers.constData());
    } else {
        writeStatus(status, charge);
    }
    QTRY_COMPARE_WITH_TIMEOUT(protection->card(host).data, data, 15000);
    const auto events = [&] {
        QList<int> of;
        for (const QList<QVariant> &e : qAsConst(eventSpy)) {
            if (e.at(0).toString() == host && e.at(1).toInt() != Snmp::EventHostBack)
                of << e.at(1).toInt();
        }
        return of;
    };
    if (event)
        QTRY_VERIFY2_WITH_TIMEOUT(events().contains(event), qPrintable(QString::number(events().size())), 5000);
    else
        QCOMPARE(events(), QList<int>());
    QCOMPARE(protection->card(host).status, int(Snmp::Online));
    if (host == upsdHost)
        QVERIFY(m_engine->upsClient()->isLoggedIn(m_engine->upsClient()->peers().at(0)));
    if (forced) {
        QTRY_COMPARE_WITH_TIMEOUT(forcedSpy.count(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_logind->calls().powerOff.size(), powerOffs + 1, 5000);
        QCOMPARE(forcedSpy.at(0).at(1).toString(), QStringLiteral("u1@%1:%2").arg(upsdHost).arg(m_port));
    } else {
        QCOMPARE(forcedSpy.count(), 0);
        // The countdowns of the troubled states run minutes, not the seconds of this test.
        QCOMPARE(m_logind->calls().powerOff.size(), powerOffs);
    }
    if (host == upsdHost && !forced) {
        const CardDetails details = protection->details(host);
        QCOMPARE(details.runtimeMinutes, 21);
        QCOMPARE(details.loadPercent, 23);
        QCOMPARE(details.inputVoltage, 230);
        QCOMPARE(details.model, QStringLiteral("Dummy UPS"));
    }
}

// The dialog's one-off question to a server, answered or with the reason it was not.
void TestNutClient::query_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port"); // 0: the server's own
    QTest::addColumn<QString>("ups");
    QTest::addColumn<QByteArray>("card"); // our server: its card's data in hex, empty for offline
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("said"); // the status, or the error word

    QTest::newRow("upsd answers") << upsdHost << 0 << "u1" << QByteArray() << int(NutAnswer::Answered)
                                  << "FSD OB LB"; // as the forced shutdown above left it
    QTest::newRow("upsd has no such UPS")
        << upsdHost << 0 << "u2" << QByteArray() << int(NutAnswer::ServerError) << "UNKNOWN-UPS";
    QTest::newRow("nobody listens") << upsdHost << int(freePort()) << "u1" << QByteArray() << int(NutAnswer::Refused)
                                    << "";
    QTest::newRow("our server, card on line")
        << vigilexHost << 0 << "ups-127-0-1-2" << QByteArray("02000250") << int(NutAnswer::Answered) << "OL";
    QTest::newRow("our server, card offline")
        << vigilexHost << 0 << "ups-127-0-1-2" << QByteArray() << int(NutAnswer::ServerError) << "DATA-STALE";
}

void TestNutClient::query()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, ups);
    QFETCH(QByteArray, card);
    QFETCH(int, outcome);
    QFETCH(QString, said);
    if (host == vigilexHost) {
        m_backend->protection()->handleSNMPStatus(::card, card.isEmpty() ? Snmp::Offline : Snmp::Online);
        if (!card.isEmpty())
            m_backend->protection()->handleSNMPData(::card, QByteArray::fromHex(card));
    }
    if (port == 0)
        port = host == upsdHost ? m_port : m_server->port();
    std::optional<NutAnswer> answer;
    QObject context;
    NutQuery::start(
        upsServer(host, port, ups, QString(), QString()), &context, [&answer](const NutAnswer &a) { answer = a; });
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), NutQuery::timeoutMs + 2000);
    QCOMPARE(int(answer->outcome), outcome);
    if (outcome == NutAnswer::Answered) {
        QCOMPARE(answer->status, said);
        QVERIFY(!answer->charge.isEmpty());
    } else if (outcome == NutAnswer::ServerError) {
        QCOMPARE(answer->error, said);
    }
    // Set back for the silence rule's test, which wants our server's card answering.
    m_backend->protection()->handleSNMPStatus(::card, Snmp::Online);
    m_backend->protection()->handleSNMPData(::card, QByteArray::fromHex("02000250"));
}

// upsd stopped: the host goes offline once the silence rule's 10 seconds are over, not before.
void TestNutClient::silence()
{
    Protection *protection = m_backend->protection();
    NutClient *client = m_engine->upsClient();
    const QString upsd = client->peers().at(0);
    const QString ours = client->peers().at(1);
    QCOMPARE(protection->card(upsdHost).status, int(Snmp::Online));
    fakeNow = EngineClock::nowSeconds();
    EngineClock::setSource([] { return fakeNow.load(); });
    // A last answer of each under the fake clock.
    const auto answeredAgain = [client](const QString &peer) {
        const quint64 before = client->answerCount(peer);
        return [client, peer, before] { return client->answerCount(peer) > before; };
    };
    const auto upsdAgain = answeredAgain(upsd);
    const auto oursFirst = answeredAgain(ours);
    QTRY_VERIFY_WITH_TIMEOUT(upsdAgain() && oursFirst(), 5000);
    m_upsd.terminate();
    QVERIFY(m_upsd.waitForFinished(5000));
    fakeNow += 10;
    const auto oursAgain = answeredAgain(ours);
    QTRY_VERIFY_WITH_TIMEOUT(oursAgain(), 5000); // our server answers at the new time, upsd no more
    client->pollAll();
    QCOMPARE(protection->card(upsdHost).status, int(Snmp::Online));
    fakeNow += 1;
    client->pollAll();
    QCOMPARE(protection->card(upsdHost).status, int(Snmp::Offline));
    QCOMPARE(protection->card(vigilexHost).status, int(Snmp::Online));
}

QTEST_GUILESS_MAIN(TestNutClient)
#include "tst_nutclient.moc"
