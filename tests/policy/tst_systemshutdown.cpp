#include "policy/systemshutdown.h"
#include "support/fakelogind.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <cstring>

// The power-off request through logind, against a private bus daemon and a recording logind. This
// executable must be the only user of D-Bus in its process: the system bus address is pinned in main()
// before anything can connect to the machine's own bus.
class TestSystemShutdown : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void onlyYesPowersOff_data();
    void onlyYesPowersOff();
    void missingService();
    void refusalIsLogged();
    void hungLogindStallsBriefly();
    void noBus();
    void backendReplacesTheRequest();
    void rightIsCheckedAtStart_data();
    void rightIsCheckedAtStart();

private:
    std::unique_ptr<FakeLogind> m_logind;
};

namespace {
const char noBusChildArgument[] = "--shutdown-without-bus";
const char bogusBus[] = "unix:path=/nonexistent/vigilex-test/bus";
constexpr qint64 AtOnceMs = 200;

// The problems reported to the caller, as "kind: detail".
QStringList problems;

void recordProblem(ShutdownProblem problem, const QString &detail)
{
    const char *kinds[] = {"no bus", "no answer", "not permitted", "refused"};
    problems << QLatin1String(kinds[int(problem)]) + QStringLiteral(": ") + detail;
}

qint64 timedShutdown()
{
    QElapsedTimer clock;
    clock.start();
    shutdownSystem(QCoreApplication::instance(), recordProblem);
    return clock.elapsed();
}
} // namespace

void TestSystemShutdown::initTestCase()
{
    m_logind = std::make_unique<FakeLogind>();
    QString error;
    // Refuse to go on unless the process's system bus is the private one.
    QVERIFY2(m_logind->startAsSystemBus(&error), qPrintable(error));
}

void TestSystemShutdown::cleanup()
{
    m_logind->unregisterService();
    m_logind->resetCalls();
    problems.clear();
}

void TestSystemShutdown::onlyYesPowersOff_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("powerOffs");
    QTest::addColumn<QStringList>("reported");

    QTest::newRow("yes") << QStringLiteral("yes") << 1 << QStringList();
    QTest::newRow("no") << QStringLiteral("no") << 0 << QStringList {QStringLiteral("not permitted: no")};
    QTest::newRow("challenge") << QStringLiteral("challenge") << 0
                               << QStringList {QStringLiteral("not permitted: challenge")};
    QTest::newRow("na") << QStringLiteral("na") << 0 << QStringList {QStringLiteral("not permitted: na")};
    QTest::newRow("empty") << QString() << 0 << QStringList {QStringLiteral("not permitted: ")};
    QTest::newRow("Yes, other case") << QStringLiteral("Yes") << 0
                                     << QStringList {QStringLiteral("not permitted: Yes")};
}

void TestSystemShutdown::onlyYesPowersOff()
{
    QFETCH(QString, answer);
    QFETCH(int, powerOffs);
    QFETCH(QStringList, reported);

    FakeLogind::Behaviour behaviour;
    behaviour.canPowerOff = answer;
    // logind answers PowerOff late; the request must not wait for it.
    behaviour.powerOffDelayMs = 1000;
    QString error;
    QVERIFY2(m_logind->registerService(behaviour, &error), qPrintable(error));

    if (powerOffs == 0)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^System shutdown refused: logind ")));
    const qint64 took = timedShutdown();
    QVERIFY2(took < AtOnceMs, qPrintable(QString::number(took)));
    QTRY_COMPARE_WITH_TIMEOUT(m_logind->calls().canPowerOff, 1, 5000);

    if (powerOffs > 0)
        QTRY_COMPARE_WITH_TIMEOUT(m_logind->calls().powerOff.size(), powerOffs, 5000);
    else
        QTest::qWait(300);
    const FakeLogind::Calls calls = m_logind->calls();
    QCOMPARE(calls.powerOff, QList<bool>(QList<bool>() << QList<bool>::fromVector(QVector<bool>(powerOffs, false))));
    QCOMPARE(calls.otherShutdownCalls, 0);
    QCOMPARE(problems, reported);
}

void TestSystemShutdown::missingService()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^System shutdown impossible: logind ")));
    const qint64 took = timedShutdown();
    QVERIFY2(took < AtOnceMs, qPrintable(QString::number(took)));
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, 5000);
    QVERIFY2(problems.first().startsWith(QLatin1String("no answer: ")), qPrintable(problems.first()));
    QCOMPARE(m_logind->calls().canPowerOff, 0);
    QVERIFY(m_logind->calls().powerOff.isEmpty());
}

// logind says "yes" and then turns the request down: one warning line, no second attempt.
void TestSystemShutdown::refusalIsLogged()
{
    FakeLogind::Behaviour behaviour;
    behaviour.refusePowerOff = true;
    QString error;
    QVERIFY2(m_logind->registerService(behaviour, &error), qPrintable(error));

    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^System shutdown refused by logind: .*AccessDenied")));
    const qint64 took = timedShutdown();
    QVERIFY2(took < AtOnceMs, qPrintable(QString::number(took)));
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, 5000);
    QVERIFY2(problems.first().startsWith(QLatin1String("refused: ")), qPrintable(problems.first()));
    QTest::qWait(300);
    QCOMPARE(m_logind->calls().powerOff, QList<bool> {false});
    QCOMPARE(m_logind->calls().otherShutdownCalls, 0);
    QCOMPARE(problems.size(), 1);
}

// A logind that does not answer holds nobody: after the short time limit it counts as not answering, and its
// late "yes" is not acted upon.
void TestSystemShutdown::hungLogindStallsBriefly()
{
    FakeLogind::Behaviour behaviour;
    behaviour.canPowerOffDelayMs = 3000;
    QString error;
    QVERIFY2(m_logind->registerService(behaviour, &error), qPrintable(error));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^System shutdown impossible: logind ")));
    const qint64 took = timedShutdown();
    QVERIFY2(took < AtOnceMs, qPrintable(QString::number(took)));
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, 5000);
    QVERIFY2(problems.first().startsWith(QLatin1String("no answer: ")), qPrintable(problems.first()));
    QTRY_COMPARE_WITH_TIMEOUT(m_logind->calls().canPowerOffAnswered, 1, 5000);
    QTest::qWait(200);
    QVERIFY(m_logind->calls().powerOff.isEmpty());
}

// Without any system bus the function returns at once with one warning line; run in a child process,
// since this process already holds its system bus connection.
void TestSystemShutdown::noBus()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QLatin1String(bogusBus));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(noBusChildArgument)});
    QVERIFY(child.waitForFinished(10000));
    const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("System shutdown impossible: no system bus"), output.constData());
}

void TestSystemShutdown::backendReplacesTheRequest()
{
    QString error;
    QVERIFY2(m_logind->registerService(FakeLogind::Behaviour(), &error), qPrintable(error));
    int replaced = 0;
    setShutdownBackend([&replaced] { ++replaced; });
    shutdownSystem();
    setShutdownBackend(nullptr);
    QCOMPARE(replaced, 1);
    QTest::qWait(200);
    QCOMPARE(m_logind->calls().canPowerOff, 0);

    // An empty backend restores the real request.
    shutdownSystem();
    QTRY_COMPARE_WITH_TIMEOUT(m_logind->calls().powerOff.size(), 1, 5000);
}

void TestSystemShutdown::rightIsCheckedAtStart_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("reported");
    QTest::newRow("yes: nothing to say") << QStringLiteral("yes") << 0;
    QTest::newRow("challenge: said at once") << QStringLiteral("challenge") << 1;
}

// Asking is all it does: whatever the answer, nothing is powered off.
void TestSystemShutdown::rightIsCheckedAtStart()
{
    QFETCH(QString, answer);
    QFETCH(int, reported);
    FakeLogind::Behaviour behaviour;
    behaviour.canPowerOff = answer;
    QString error;
    QVERIFY2(m_logind->registerService(behaviour, &error), qPrintable(error));
    if (reported)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^System shutdown refused: logind ")));
    checkPowerOffRight(QCoreApplication::instance(), recordProblem);
    QTRY_COMPARE_WITH_TIMEOUT(m_logind->calls().canPowerOffAnswered, 1, 5000);
    QTest::qWait(100);
    QCOMPARE(problems.size(), reported);
    QVERIFY(m_logind->calls().powerOff.isEmpty());
    QCOMPARE(shutdownProblemText(ShutdownProblem::NotPermitted, QStringLiteral("challenge")),
        QStringLiteral(
            "System shutdown not permitted: logind answers \"challenge\"; this user needs the right to power off"));
}

int main(int argc, char **argv)
{
    // Never the machine's own bus, whatever fails later: until the test has its private daemon, the system
    // bus address leads nowhere.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bogusBus);
    QCoreApplication app(argc, argv);

    if (argc > 1 && std::strcmp(argv[1], noBusChildArgument) == 0) {
        const qint64 took = timedShutdown();
        fprintf(stdout, "took %lld ms\n", static_cast<long long>(took));
        return took < AtOnceMs ? 0 : 1;
    }

    TestSystemShutdown test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_systemshutdown.moc"
