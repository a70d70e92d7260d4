#include "backend/localbackend.h"
#include "nut/nutserver.h"
#include "nut/nutswitch.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/database.h"
#include "storage/nutusers.h"
#include "storage/settingkeys.h"
#include "support/cards.h"
#include "support/fakelogind.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <csignal>

#include <sys/types.h>

namespace {
const QString cardA = QStringLiteral("127.0.1.2"); // on mains, with details
const QString cardB = QStringLiteral("127.0.1.3"); // on battery, battery low, no details
const QString cardC = QStringLiteral("127.0.1.4"); // offline
const QString cardD = QStringLiteral("127.0.1.5"); // no report yet

SNMPInfo card(const QString &ip)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = 161;
    info.community = QStringLiteral("public");
    return info;
}

// A LocalBackend whose detail reads are given by the test.
class DetailedBackend : public LocalBackend
{
public:
    CardDetails details(const QString &host) const override { return known.value(host, CardDetails()); }
    QHash<QString, CardDetails> known;
};
int refusedListens = 0;
QtMessageHandler previousHandler = nullptr;
void countRefusedListens(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("Network UPS protocol server cannot listen")))
        ++refusedListens;
    previousHandler(type, context, text);
}
} // namespace

// The server of the network UPS protocol over loopback: raw request lines for every answer and error word,
// Debian's own upsc as the client a user runs, upsmon as a follower, and the bounds on connections. In a network
// namespace of its own, with a recording logind on a private bus as the system bus.
class TestNutServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void session_data();
    void session();
    void upsc_data();
    void upsc();
    void bounds();
    void upsmonFollows();
    void followsTheSettings_data();
    void followsTheSettings();
    // Last: it leaves the protection's policy with its shutdown done.
    void upsmonGoesDownFirst();

private:
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<DetailedBackend> m_backend;
    std::unique_ptr<NutServer> m_server;
    FakeLogind m_logind;
};

namespace {
// Debian's upsmon (run as root, as the package runs it) following the listed UPSes with the given user, its
// shutdown command a recorder that appends "down" to the file. Stopped, with its monitoring child, when the guard goes.
struct Upsmon
{
    QTemporaryDir dir;
    QProcess process;
    QString down;

    bool start(const QStringList &monitors, QString *why)
    {
        const QString upsmon = QStringLiteral("/lib/nut/upsmon");
        if (!QFile::exists(upsmon) || !dir.isValid()) {
            *why = QStringLiteral("upsmon (nut-client) is not installed");
            return false;
        }
        down = dir.filePath(QStringLiteral("shutdown"));
        QFile conf(dir.filePath(QStringLiteral("upsmon.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write("RUN_AS_USER root\n");
        for (const QString &monitor : monitors)
            conf.write("MONITOR " + monitor.toUtf8() + '\n');
        conf.write("MINSUPPLIES 1\nPOLLFREQ 1\nPOLLFREQALERT 1\nFINALDELAY 0\nHOSTSYNC 1\nDEADTIME 30\n"
                   "SHUTDOWNCMD \"/bin/sh -c 'echo down >> "
            + QFile::encodeName(down)
            + "'\"\n"
              "POWERDOWNFLAG "
            + QFile::encodeName(dir.filePath(QStringLiteral("killpower"))) + "\n");
        conf.close();
        QFile::setPermissions(conf.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NUT_CONFPATH"), dir.path());
        env.insert(QStringLiteral("NUT_STATEPATH"), dir.path());
        env.insert(QStringLiteral("NUT_ALTPIDPATH"), dir.path());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        // upsmon keeps its PID file in /run/nut whatever it is told: a private /run/nut, in a mount namespace of
        // its own, keeps it from the system's upsmon and from a parallel run of this test.
        process.start(QStringLiteral("unshare"),
            {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("mount -t tmpfs tmpfs /run/nut && exec ") + upsmon + QStringLiteral(" -F")});
        return process.waitForStarted(5000);
    }
    QString output() { return QString::fromLocal8Bit(process.readAll()); }

    ~Upsmon()
    {
        // Its monitoring child first, while the parent still reaps it: an orphan would outlive the test.
        const qint64 pid = process.processId();
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        if (pid > 0 && children.open(QIODevice::ReadOnly)) {
            for (const QByteArray &child : children.readAll().split(' ')) {
                if (child.trimmed().toInt() > 0)
                    ::kill(pid_t(child.trimmed().toInt()), SIGTERM);
            }
        }
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
};
} // namespace

void TestNutServer::initTestCase()
{
    // Before anything touches the system bus: a due power-off goes to the recorder, never to the machine.
    QString error;
    QVERIFY2(m_logind.startAsSystemBus(&error), qPrintable(error));
    QVERIFY2(m_logind.registerService(FakeLogind::Behaviour(), &error), qPrintable(error));
    m_app = std::make_unique<ScratchApp>();
    Database::instance()->createTables();
    m_backend = std::make_unique<DetailedBackend>();
    for (const QString &ip : {cardA, cardB, cardC, cardD})
        QVERIFY(m_backend->addHostNow(card(ip)).ok);
    Protection *protection = m_backend->protection();
    protection->handleSNMPStatus(cardA, 1);
    protection->handleSNMPData(cardA, QByteArray("\x02\x00\x02\x50", 4));
    protection->handleSNMPStatus(cardB, 1);
    protection->handleSNMPData(cardB, QByteArray("\x03\x01\x03\x0a", 4));
    protection->handleSNMPStatus(cardC, 1);
    protection->handleSNMPData(cardC, QByteArray("\x02\x00\x02\x50", 4));
    protection->handleSNMPStatus(cardC, 0);

    CardDetails a;
    a.host = cardA;
    a.answeredAtMs = 1;
    a.model = QStringLiteral("Smart-UPS 1500");
    a.capacity = 79; // older than the poll's 80
    a.runtimeMinutes = 42;
    a.loadPercent = 23;
    a.inputVoltage = 230;
    a.outputVoltage = 229;
    m_backend->known.insert(cardA, a);

    m_server = std::make_unique<NutServer>(m_backend.get());
    m_server->setUsers(
        {{QStringLiteral("monuser"), QStringLiteral("secret")}, {QStringLiteral("viewer"), QStringLiteral("pw")}},
        {QStringLiteral("monuser")});
    QString why;
    QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &why), qPrintable(why));
}

void TestNutServer::cleanupTestCase()
{
    m_server.reset();
    m_backend.reset();
    m_app.reset();
}

void TestNutServer::session_data()
{
    QTest::addColumn<QByteArrayList>("lines"); // sent in one go, each ended by a line feed
    QTest::addColumn<QByteArray>("answer"); // everything the server says
    QTest::addColumn<bool>("closes"); // the server ends the connection after it
    QTest::addColumn<QStringList>("shutdowns"); // the forced shutdowns it recorded

    const QByteArray a = "ups-127-0-1-2";
    const QStringList none;
    QTest::newRow("versions and help")
        << QByteArrayList {"VER", "NETVER", "HELP"}
        << (NutServer::versionText()
               + "\n1.3\n"
                 "Commands: HELP VER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME PASSWORD STARTTLS\n")
        << false << none;
    QTest::newRow("every listed card, named by its address, described by its model")
        << QByteArrayList {"LIST UPS"}
        << QByteArray("BEGIN LIST UPS\nUPS ups-127-0-1-2 \"Smart-UPS 1500\"\nUPS ups-127-0-1-3 \"Unavailable\"\n"
                      "UPS ups-127-0-1-4 \"Unavailable\"\nUPS ups-127-0-1-5 \"Unavailable\"\nEND LIST UPS\n")
        << false << none;
    QTest::newRow("a card on mains with details; the poll's charge beats the details'")
        << QByteArrayList {"LIST VAR " + a}
        << QByteArray("BEGIN LIST VAR ups-127-0-1-2\n"
                      "VAR ups-127-0-1-2 battery.charge \"80\"\nVAR ups-127-0-1-2 battery.runtime \"2520\"\n"
                      "VAR ups-127-0-1-2 device.type \"ups\"\nVAR ups-127-0-1-2 driver.name \"vigilex\"\n"
                      "VAR ups-127-0-1-2 input.voltage \"230\"\nVAR ups-127-0-1-2 output.voltage \"229\"\n"
                      "VAR ups-127-0-1-2 ups.load \"23\"\nVAR ups-127-0-1-2 ups.model \"Smart-UPS 1500\"\n"
                      "VAR ups-127-0-1-2 ups.status \"OL\"\nEND LIST VAR ups-127-0-1-2\n")
        << false << none;
    QTest::newRow("a card on battery, low, without details: only what it reported")
        << QByteArrayList {"LIST VAR ups-127-0-1-3"}
        << QByteArray("BEGIN LIST VAR ups-127-0-1-3\nVAR ups-127-0-1-3 battery.charge \"10\"\n"
                      "VAR ups-127-0-1-3 device.type \"ups\"\nVAR ups-127-0-1-3 driver.name \"vigilex\"\n"
                      "VAR ups-127-0-1-3 ups.status \"OB LB\"\nEND LIST VAR ups-127-0-1-3\n")
        << false << none;
    QTest::newRow("an offline card and one never reported are stale")
        << QByteArrayList {"LIST VAR ups-127-0-1-4", "GET VAR ups-127-0-1-4 ups.status",
               "GET VAR ups-127-0-1-5 battery.charge", "GET UPSDESC ups-127-0-1-4"}
        << QByteArray("ERR DATA-STALE\nERR DATA-STALE\nERR DATA-STALE\nUPSDESC ups-127-0-1-4 \"Unavailable\"\n")
        << false << none;
    QTest::newRow("single variables")
        << QByteArrayList {"GET VAR " + a + " ups.load", "GET VAR ups-127-0-1-3 ups.load", "GET VAR " + a + " ups.id",
               "GET VAR ups-10-0-0-1 ups.status", "GET VAR ups-127-0-1-3 ups.status"}
        << QByteArray("VAR ups-127-0-1-2 ups.load \"23\"\nERR VAR-NOT-SUPPORTED\nERR VAR-NOT-SUPPORTED\n"
                      "ERR UNKNOWN-UPS\nVAR ups-127-0-1-3 ups.status \"OB LB\"\n")
        << false << none;
    QTest::newRow("descriptions, types, logins")
        << QByteArrayList {"GET UPSDESC " + a, "GET NUMLOGINS " + a, "GET DESC " + a + " ups.status",
               "GET DESC " + a + " ups.id", "GET TYPE " + a + " battery.charge", "GET TYPE " + a + " ups.model",
               "GET TYPE " + a + " ups.id", "GET CMDDESC " + a + " test.battery.start", "GET UPSDESC ups-1"}
        << QByteArray("UPSDESC ups-127-0-1-2 \"Smart-UPS 1500\"\nNUMLOGINS ups-127-0-1-2 0\n"
                      "DESC ups-127-0-1-2 ups.status \"UPS status\"\n"
                      "DESC ups-127-0-1-2 ups.id \"Description unavailable\"\n"
                      "TYPE ups-127-0-1-2 battery.charge NUMBER\nTYPE ups-127-0-1-2 ups.model STRING:64\n"
                      "ERR VAR-NOT-SUPPORTED\nERR CMD-NOT-SUPPORTED\nERR UNKNOWN-UPS\n")
        << false << none;
    QTest::newRow("no commands, nothing writable")
        << QByteArrayList {"LIST CMD " + a, "LIST RW " + a, "LIST ENUM " + a + " ups.status",
               "LIST RANGE " + a + " ups.id", "LIST CMD ups-1", "SET VAR " + a + " ups.id x",
               "INSTCMD " + a + " test.battery.start"}
        << QByteArray("BEGIN LIST CMD ups-127-0-1-2\nEND LIST CMD ups-127-0-1-2\n"
                      "BEGIN LIST RW ups-127-0-1-2\nEND LIST RW ups-127-0-1-2\n"
                      "BEGIN LIST ENUM ups-127-0-1-2 ups.status\nEND LIST ENUM ups-127-0-1-2 ups.status\n"
                      "ERR VAR-NOT-SUPPORTED\nERR UNKNOWN-UPS\nERR ACCESS-DENIED\nERR ACCESS-DENIED\n")
        << false << none;
    QTest::newRow("a primary logs in, is a client, and asks for a forced shutdown")
        << QByteArrayList {"LOGIN " + a, "USERNAME monuser", "USERNAME other", "LOGIN " + a, "PASSWORD secret",
               "PASSWORD again", "LOGIN ups-1", "LOGIN " + a, "LOGIN " + a, "GET NUMLOGINS " + a, "LIST CLIENT " + a,
               "FSD " + a, "PRIMARY " + a, "FSD " + a, "GET VAR " + a + " ups.status"}
        << QByteArray("ERR USERNAME-REQUIRED\nOK\nERR ALREADY-SET-USERNAME\nERR PASSWORD-REQUIRED\nOK\n"
                      "ERR ALREADY-SET-PASSWORD\nERR UNKNOWN-UPS\nOK\nERR ALREADY-LOGGED-IN\n"
                      "NUMLOGINS ups-127-0-1-2 1\n"
                      "BEGIN LIST CLIENT ups-127-0-1-2\nCLIENT ups-127-0-1-2 127.0.0.1\nEND LIST CLIENT ups-127-0-1-2\n"
                      "ERR ACCESS-DENIED\nOK PRIMARY-GRANTED\nOK FSD-SET\nVAR ups-127-0-1-2 ups.status \"OL FSD\"\n")
        << false << QStringList {QString::fromLatin1(a)};
    QTest::newRow("MASTER is the old PRIMARY; granted for one UPS only")
        << QByteArrayList {"USERNAME monuser", "PASSWORD secret", "MASTER " + a, "FSD ups-127-0-1-3", "FSD " + a}
        << QByteArray("OK\nOK\nOK MASTER-GRANTED\nERR ACCESS-DENIED\nOK FSD-SET\n") << false
        << QStringList {QString::fromLatin1(a)};
    QTest::newRow("a wrong password is refused everything")
        << QByteArrayList {"USERNAME monuser", "PASSWORD wrong", "LOGIN " + a, "PRIMARY " + a, "FSD " + a}
        << QByteArray("OK\nOK\nERR ACCESS-DENIED\nERR ACCESS-DENIED\nERR ACCESS-DENIED\n") << true << none;
    QTest::newRow("a user without the primary's right")
        << QByteArrayList {"USERNAME viewer", "PASSWORD pw", "LOGIN " + a, "MASTER " + a, "FSD " + a}
        << QByteArray("OK\nOK\nOK\nERR ACCESS-DENIED\nERR ACCESS-DENIED\n") << false << none;
    QTest::newRow("quotes, escapes, case and CRLF as upsd reads them")
        << QByteArrayList {"get var \"" + a + "\" \"ups.status\"", "GET VAR " + a + " ups\\.load", "NETVER\r",
               "GET VAR " + a + " \"ups.status"}
        << QByteArray("VAR ups-127-0-1-2 ups.status \"OL\"\nVAR ups-127-0-1-2 ups.load \"23\"\n1.3\n"
                      "ERR INVALID-ARGUMENT\n")
        << false << none;
    QTest::newRow("unknown and malformed requests")
        << QByteArrayList {"FOO", "LIST", "LIST FOO " + a, "LIST VAR", "LIST UPS extra", "GET VAR " + a, "GET",
               "GET FOO " + a, "USERNAME", "LOGIN", "", "STARTTLS", "USERNAME \xff", "PASSWORD a\\"}
        << QByteArray("ERR UNKNOWN-COMMAND\nERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\n"
                      "ERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\n"
                      "ERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\nERR FEATURE-NOT-CONFIGURED\n"
                      "ERR INVALID-ARGUMENT\nERR INVALID-ARGUMENT\n")
        << false << none;
    QTest::newRow("LOGOUT says goodbye and reads no more")
        << QByteArrayList {"NETVER", "LOGOUT", "NETVER"} << QByteArray("1.3\nOK Goodbye\n") << true << none;
    QTest::newRow("a line of 512 bytes with its line feed is a line")
        << QByteArrayList {QByteArray(511, 'X')} << QByteArray("ERR UNKNOWN-COMMAND\n") << false << none;
    QTest::newRow("one byte more ends the connection, unanswered")
        << QByteArrayList {"NETVER", QByteArray(512, 'X'), "NETVER"} << QByteArray("1.3\n") << true << none;
}

void TestNutServer::session()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, answer);
    QFETCH(bool, closes);
    QFETCH(QStringList, shutdowns);

    const QStringList before = m_server->shutdownRequests();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    // A request that must be answered last: everything before it has been answered when its answer is in.
    const QByteArray fence = "NETVER";
    socket.write(lines.join('\n') + '\n' + (closes ? QByteArray() : fence + '\n'));
    QByteArray got;
    const QByteArray expected = closes ? answer : answer + "1.3\n";
    const auto complete = [&] {
        got += socket.readAll();
        return got.size() >= expected.size() || socket.state() == QAbstractSocket::UnconnectedState;
    };
    QTRY_VERIFY_WITH_TIMEOUT(complete(), 5000);
    if (closes)
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
    got += socket.readAll();
    QCOMPARE(got, expected);
    QCOMPARE(m_server->shutdownRequests().mid(before.size()), shutdowns);
    socket.abort();
    QTRY_COMPARE(m_server->connectionCount(), 0);
    m_server->clearForcedShutdown();
}

void TestNutServer::upsc_data()
{
    QTest::addColumn<QString>("target"); // with %1 for the server's port
    QTest::addColumn<QString>("variable");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // standard output, or (when it fails) standard error

    QTest::newRow("every variable of a card")
        << QStringLiteral("ups-127-0-1-2@127.0.0.1:%1") << QString() << 0
        << QStringLiteral("battery.charge: 80\nbattery.runtime: 2520\ndevice.type: ups\ndriver.name: vigilex\n"
                          "input.voltage: 230\noutput.voltage: 229\nups.load: 23\nups.model: Smart-UPS 1500\n"
                          "ups.status: OL\n");
    QTest::newRow("one variable") << QStringLiteral("ups-127-0-1-3@127.0.0.1:%1") << QStringLiteral("ups.status") << 0
                                  << QStringLiteral("OB LB\n");
    QTest::newRow("an offline card") << QStringLiteral("ups-127-0-1-4@127.0.0.1:%1") << QString() << 1
                                     << QStringLiteral("Error: Data stale\n");
    QTest::newRow("an unknown UPS") << QStringLiteral("ups-10-0-0-1@127.0.0.1:%1") << QString() << 1
                                    << QStringLiteral("Error: Unknown UPS\n");
    QTest::newRow("an unknown variable") << QStringLiteral("ups-127-0-1-2@127.0.0.1:%1") << QStringLiteral("ups.id")
                                         << 1 << QStringLiteral("Error: Variable not supported by UPS\n");
    QTest::newRow("the list of UPSes") << QStringLiteral("-l 127.0.0.1:%1") << QString() << 0
                                       << QStringLiteral(
                                              "ups-127-0-1-2\nups-127-0-1-3\nups-127-0-1-4\nups-127-0-1-5\n");
}

// upsc as a user runs it; it runs while this thread serves it, so it is waited for in the event loop.
void TestNutServer::upsc()
{
    QFETCH(QString, target);
    QFETCH(QString, variable);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QStringList arguments = target.arg(m_server->port()).split(QLatin1Char(' '));
    if (!variable.isEmpty())
        arguments << variable;
    QProcess upsc;
    upsc.start(QStringLiteral("upsc"), arguments);
    QVERIFY2(upsc.waitForStarted(5000), "upsc (nut-client) is not installed");
    QTRY_COMPARE_WITH_TIMEOUT(upsc.state(), QProcess::NotRunning, 10000);
    const QString out = QString::fromUtf8(upsc.readAllStandardOutput());
    QString err = QString::fromUtf8(upsc.readAllStandardError());
    // upsc may say on stderr that it tried TLS first; what it reports is the last line.
    if (exitCode != 0 && !err.trimmed().isEmpty())
        err = err.trimmed().section(QLatin1Char('\n'), -1) + QLatin1Char('\n');
    QCOMPARE(upsc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(upsc.exitCode(), exitCode);
    QCOMPARE(exitCode == 0 ? out : err, output);
    QTRY_COMPARE(m_server->connectionCount(), 0);
}

// At most 64 connections at once; a silent one is closed after the idle time; one that never ends its line
// is closed at the bound, without an answer.
void TestNutServer::bounds()
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < NutServer::maxConnections; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QHostAddress::LocalHost, m_server->port());
        // In the event loop, so that the server accepts each before the listen backlog fills.
        QTRY_COMPARE_WITH_TIMEOUT(sockets.back()->state(), QAbstractSocket::ConnectedState, 5000);
        QTRY_COMPARE(m_server->connectionCount(), i + 1);
    }
    sockets.push_back(std::make_unique<QTcpSocket>());
    sockets.back()->connectToHost(QHostAddress::LocalHost, m_server->port());
    QTRY_COMPARE_WITH_TIMEOUT(sockets.back()->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(m_server->connectionCount(), NutServer::maxConnections);
    QCOMPARE(sockets.front()->state(), QAbstractSocket::ConnectedState);
    sockets.clear();
    QTRY_COMPARE(m_server->connectionCount(), 0);

    m_server->setIdleTimeoutMs(300);
    auto restore = qScopeGuard([this] { m_server->setIdleTimeoutMs(NutServer::defaultIdleTimeoutMs); });
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(silent.waitForConnected(5000));
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 5000);

    QTcpSocket endless;
    endless.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(endless.waitForConnected(5000));
    for (int i = 0; i < 8; ++i)
        endless.write(QByteArray(100, 'A'));
    QTRY_COMPARE_WITH_TIMEOUT(endless.state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(endless.readAll(), QByteArray());
    QTRY_COMPARE(m_server->connectionCount(), 0);

    // A guesser, from an address of its own so that the other tests' address stays heard: after its tenth wrong
    // password in a minute even the right one is not heard from it, while another address is.
    const auto logIn = [this](const char *from, const QByteArray &password) -> QByteArray {
        QTcpSocket socket;
        socket.bind(QHostAddress(QString::fromLatin1(from)));
        socket.connectToHost(QHostAddress::LocalHost, m_server->port());
        if (!socket.waitForConnected(5000))
            return QByteArray("unconnected");
        socket.write("USERNAME viewer\nPASSWORD " + password + "\nLOGIN ups-127-0-1-2\n");
        QByteArray got;
        static_cast<void>(QTest::qWaitFor([&] {
            got += socket.readAll();
            return got.count('\n') >= 3 || socket.state() == QAbstractSocket::UnconnectedState;
        }, 5000));
        return got + socket.readAll();
    };
    for (int i = 0; i < NutServer::wrongPasswordsPerMinute; ++i)
        QCOMPARE(logIn("127.0.0.77", "guess"), QByteArray("OK\nOK\nERR ACCESS-DENIED\n"));
    QCOMPARE(logIn("127.0.0.77", "pw"), QByteArray());
    QCOMPARE(logIn("127.0.0.78", "pw"), QByteArray("OK\nOK\nOK\n"));
    QTRY_COMPARE(m_server->connectionCount(), 0);
}

// Debian's upsmon as a secondary on another machine would run it (run as root, as the package runs it): it logs in to
// both cards, keeps the machine up while one of them still has power, and runs its shutdown command (here a recorder)
// once neither has.
void TestNutServer::upsmonFollows()
{
    Upsmon upsmon;
    const QString port = QString::number(m_server->port());
    QString why;
    QVERIFY2(upsmon.start({QStringLiteral("ups-127-0-1-2@127.0.0.1:%1 1 monuser secret secondary").arg(port),
                              QStringLiteral("ups-127-0-1-3@127.0.0.1:%1 1 monuser secret secondary").arg(port)},
                 &why),
        qPrintable(why));
    QProcess &process = upsmon.process;
    const QString down = upsmon.down;
    auto stop
        = qScopeGuard([this] { m_backend->protection()->handleSNMPData(cardA, QByteArray("\x02\x00\x02\x50", 4)); });

    QTRY_VERIFY2_WITH_TIMEOUT(
        m_server->connectionCount() == 2, qPrintable(QString::fromLocal8Bit(process.readAll())), 10000);
    // Logged in to both; a few polls of the one still on mains change nothing.
    const auto logins = [this] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_server->port());
        QByteArray got;
        probe.write("GET NUMLOGINS ups-127-0-1-2\nGET NUMLOGINS ups-127-0-1-3\n");
        for (int i = 0; i < 100 && got.count('\n') < 2; ++i) {
            QTest::qWait(20);
            got += probe.readAll();
        }
        return got;
    };
    QTRY_COMPARE_WITH_TIMEOUT(logins(), QByteArray("NUMLOGINS ups-127-0-1-2 1\nNUMLOGINS ups-127-0-1-3 1\n"), 10000);
    QTest::qWait(2500);
    QVERIFY2(!QFile::exists(down), qPrintable(QString::fromLocal8Bit(process.readAll())));

    m_backend->protection()->handleSNMPData(cardA, QByteArray("\x03\x01\x03\x05", 4));
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(down), qPrintable(QString::fromLocal8Bit(process.readAll())), 15000);
}

// The field's order: the simulated card's mains fails, the countdown runs out, the forced shutdown goes to the
// follower first (upsmon, logged in with a secondary user of the settings, runs its shutdown command and leaves),
// and only then is this machine powered off (the recording logind).
void TestNutServer::upsmonGoesDownFirst()
{
    const QString host = QStringLiteral("127.0.0.1");
    UpsSim card(QStringLiteral("udp:%1:16161").arg(host));
    QVERIFY2(card.start(), qPrintable(card.log()));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();
    const QList<NutUser> users {{QStringLiteral("watcher"), QStringLiteral("w4tch"), false}};
    QVERIFY(m_backend
                ->writeSettingsNow({{QLatin1String(SettingKeys::nutUsers), NutUsers::text(users)},
                    {QLatin1String(SettingKeys::nutEnabled), true}, {QLatin1String(SettingKeys::nutPort), port},
                    {QLatin1String(SettingKeys::nutFsdWait), 300}, {QStringLiteral("shutdown/ac_failed_time"), 1},
                    {QStringLiteral("shutdown/batt_low_time"), 0}, {QStringLiteral("shutdown/ac_failed_capacity"), 0},
                    {QStringLiteral("system/shutdown_app_enable"), false}})
                .ok);
    NutSwitch nut(m_backend.get());
    ShutdownPolicy *policy = m_backend->protection()->policy();
    nut.protect(policy);
    // A minute of 6 s: the wait's bound of 300 s is 30 s, the last moment after the logout half a second.
    policy->setMinuteMs(6000);
    QTRY_VERIFY(nut.server()->isListening());
    QStringList rows;
    connect(policy, &ShutdownPolicy::message, &nut, [&rows](const QString &text) { rows << text; });

    SNMP engine;
    m_backend->protection()->setEngine(&engine);
    auto stop = qScopeGuard([this] {
        m_backend->removeHostNow(QStringLiteral("127.0.0.1"));
        m_backend->protection()->setEngine(nullptr);
    });
    QVERIFY(m_backend->addHostNow(v2cHost(host, 16161)).ok);
    engine.startService();

    Upsmon upsmon;
    QString why;
    QVERIFY2(upsmon.start({QStringLiteral("ups-127-0-0-1@127.0.0.1:%1 1 watcher w4tch secondary").arg(port)}, &why),
        qPrintable(why));
    QTRY_VERIFY2_WITH_TIMEOUT(nut.server()->connectionCount() == 1, qPrintable(upsmon.output()), 10000);
    QVERIFY(card.setState(QStringLiteral("mains-failure")));

    // Sampled as they happen: the recorder's line must come before the power-off.
    bool downFirst = false;
    QElapsedTimer clock;
    clock.start();
    while (m_logind.calls().powerOff.isEmpty() && clock.elapsed() < 60000) {
        if (QFile::exists(upsmon.down))
            downFirst = true;
        QTest::qWait(20);
    }
    QVERIFY2(!m_logind.calls().powerOff.isEmpty(), qPrintable(rows.join(QLatin1Char('\n')) + upsmon.output()));
    QVERIFY2(downFirst, qPrintable(rows.join(QLatin1Char('\n'))));
    QCOMPARE(rows,
        (QStringList {QStringLiteral("System will be shutdown in 1.0 minute(s)"),
            // The card on battery since the start is in trouble too; only the new one has a follower.
            QStringLiteral(
                "Forced shutdown raised on ups-127-0-0-1, ups-127-0-1-3; waiting up to 300 s for 1 follower(s)"),
            QStringLiteral("All followers have logged out")}));
    QCOMPARE(m_logind.calls().powerOff.size(), 1);
}

void TestNutServer::followsTheSettings_data()
{
    QTest::addColumn<QVariantList>("writes"); // settings written one after the other; port -1: a free one
    QTest::addColumn<QString>("refusal"); // what the last write is refused with, or empty
    QTest::addColumn<QString>("listening"); // the address it serves at the end, or empty for none

    const QString on = QLatin1String(SettingKeys::nutEnabled);
    const QString address = QLatin1String(SettingKeys::nutAddress);
    const QString port = QLatin1String(SettingKeys::nutPort);
    QTest::newRow("off unless switched on") << QVariantList {QVariantMap {{port, -1}}} << QString() << QString();
    QTest::newRow("on: loopback by default")
        << QVariantList {QVariantMap {{on, true}, {port, -1}}} << QString() << QStringLiteral("127.0.0.1");
    QTest::newRow("on the IPv6 loopback")
        << QVariantList {QVariantMap {{on, true}, {address, QStringLiteral("::1")}, {port, -1}}} << QString()
        << QStringLiteral("::1");
    QTest::newRow("on, then off again") << QVariantList {QVariantMap {{on, true}, {port, -1}},
        QVariantMap {{on, false}}} << QString()
                                        << QString();
    QTest::newRow("moved to another address")
        << QVariantList {QVariantMap {{on, true}, {port, -1}}, QVariantMap {{address, QStringLiteral("127.0.0.2")}}}
        << QString() << QStringLiteral("127.0.0.2");
    QTest::newRow("a name is no address")
        << QVariantList {QVariantMap {{on, true}, {address, QStringLiteral("ups.example")}}}
        << QStringLiteral("nut/address takes an IP address") << QString();
    QTest::newRow("a port beyond TCP's") << QVariantList {QVariantMap {{on, true}, {port, 65536}}}
                                         << QStringLiteral("nut/port must lie from 1 to 65535") << QString();
    QTest::newRow("a port another program holds: off, said once")
        << QVariantList {QVariantMap {{on, true}, {port, -2}}, QVariantMap {{address, QStringLiteral("127.0.0.1")}}}
        << QString() << QString();
}

// The server the settings ask for, through the backend as the settings dialog writes them; each row starts off.
void TestNutServer::followsTheSettings()
{
    QFETCH(QVariantList, writes);
    QFETCH(QString, refusal);
    QFETCH(QString, listening);

    const QString on = QLatin1String(SettingKeys::nutEnabled);
    QVERIFY(m_backend
                ->writeSettingsNow({{on, false}, {QLatin1String(SettingKeys::nutAddress), QStringLiteral("127.0.0.1")},
                    {QLatin1String(SettingKeys::nutPort), NutServer::defaultPort}})
                .ok);
    auto off = qScopeGuard([this, on] { m_backend->writeSettingsNow({{on, false}}); });
    refusedListens = 0;
    previousHandler = qInstallMessageHandler(countRefusedListens);
    auto restored = qScopeGuard([] { qInstallMessageHandler(previousHandler); });
    NutSwitch nutSwitch(m_backend.get());
    QTcpServer free;
    QVERIFY(free.listen(QHostAddress::LocalHost, 0));
    const quint16 freePort = free.serverPort();
    QTcpServer held; // a port in use by another program
    QVERIFY(held.listen(QHostAddress::LocalHost, 0));
    free.close();

    for (int i = 0; i < writes.size(); ++i) {
        QVariantMap values = writes.at(i).toMap();
        const QString port = QLatin1String(SettingKeys::nutPort);
        if (values.value(port) == -1)
            values.insert(port, freePort);
        else if (values.value(port) == -2)
            values.insert(port, held.serverPort());
        const QString why = LocalBackend::settingsRefusal(values);
        if (i + 1 == writes.size())
            QCOMPARE(why, refusal);
        else
            QVERIFY2(why.isEmpty(), qPrintable(why));
        if (why.isEmpty())
            QVERIFY(m_backend->writeSettingsNow(values).ok);
        // Each write acted on before the next, as a person's writes are.
        QTest::qWait(20);
    }
    // The start reads the settings through the event loop.
    if (listening.isEmpty()) {
        QTest::qWait(100);
        QVERIFY(!nutSwitch.server()->isListening());
        QCOMPARE(refusedListens,
            QLatin1String(QTest::currentDataTag()) == QLatin1String("a port another program holds: off, said once")
                ? 1
                : 0);
        return;
    }
    QCOMPARE(refusedListens, 0);
    QTRY_VERIFY(nutSwitch.server()->isListening());
    QCOMPARE(nutSwitch.server()->serverAddress(), QHostAddress(listening));
    QCOMPARE(nutSwitch.server()->port(), freePort);
    QTcpSocket client;
    client.connectToHost(QHostAddress(listening), freePort);
    QTRY_VERIFY2(client.state() == QAbstractSocket::ConnectedState, qPrintable(client.errorString()));
    client.write("NETVER\n");
    QByteArray got;
    QTRY_VERIFY((got += client.readAll()).endsWith('\n'));
    QCOMPARE(got, QByteArray("1.3\n"));
}

VIGILEX_NETNS_TEST_MAIN(TestNutServer)
#include "tst_nutserver.moc"
