#include "support/facekit.h"
#include "support/upssim.h"

#include "snmp/cardquery.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "ui/addhostdialog.h"
#include "ui/reachability.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace FaceKit;

namespace {
// Two simulated cards of this test's own, on loopback: a whole one, and one without two polled objects.
const QString cardAddress = QStringLiteral("127.0.23.1");
const QString partialAddress = QStringLiteral("127.0.23.2");
constexpr int cardPort = 16123;
} // namespace

// "Query" runs the program named ping found first on PATH, and asks the card once over SNMP; most of these tests
// put a fake ping there.
class TestHostQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(store.app.isValid());
        QVERIFY(fakeDir.isValid());
        originalPath = qgetenv("PATH");
        card = std::make_unique<UpsSim>(QStringLiteral("udp:%1:%2").arg(cardAddress).arg(cardPort));
        QVERIFY2(card->start(), qPrintable(card->log()));
        partial = std::make_unique<UpsSim>(QStringLiteral("udp:%1:%2").arg(partialAddress).arg(cardPort),
            QStringList {QStringLiteral("--omit"), QStringLiteral("1,2")});
        QVERIFY2(partial->start(), qPrintable(partial->log()));
    }
    void cleanupTestCase()
    {
        QTRY_COMPARE_WITH_TIMEOUT(CardQuery::running(), 0, 10000);
        card.reset();
        partial.reset();
    }
    void init()
    {
        prompts.requests.clear();
        QFile::remove(fakeDir.filePath(QStringLiteral("ping")));
        QFile::remove(argsFile());
    }
    void cleanup() { qputenv("PATH", originalPath); }

    void replyRecognised_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("reply");
        QTest::newRow("iputils reply") << QByteArray("64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.04 ms\n")
                                       << true;
        QTest::newRow("upper-case reply") << QByteArray("Reply from 10.0.0.5: bytes=32 time<1ms TTL=128\r\n") << true;
        QTest::newRow("mixed case") << QByteArray("... Ttl=5") << true;
        QTest::newRow("header only") << QByteArray("PING 10.0.0.5 (10.0.0.5) 56(84) bytes of data.\n") << false;
        QTest::newRow("unreachable") << QByteArray("From 10.0.0.1 icmp_seq=1 Destination Host Unreachable\n") << false;
        QTest::newRow("time to live exceeded")
            << QByteArray("From 10.0.0.1 icmp_seq=1 Time to live exceeded\n") << false;
        QTest::newRow("nothing") << QByteArray() << false;
    }
    void replyRecognised()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, reply);
        QCOMPARE(Reachability::showsReply(output), reply);
    }

    void argumentsEndThePing()
    {
        const QStringList args = Reachability::arguments(QStringLiteral("127.0.23.5"));
        QCOMPARE(args.last(), QStringLiteral("127.0.23.5"));
        QVERIFY(args.indexOf(QStringLiteral("-c")) >= 0 && args.indexOf(QStringLiteral("-c")) < args.size() - 2);
        QVERIFY(args.indexOf(QStringLiteral("-W")) >= 0);
    }

    void fakePing_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("online");
        QTest::newRow("reply") << QByteArray(
            "echo \"PING $5\"\necho \"64 bytes from $5: icmp_seq=1 ttl=64 time=0.1 ms\"\n")
                               << true;
        QTest::newRow("reply after a pause")
            << QByteArray("echo \"PING $5\"\nsleep 0.3\necho \"64 bytes: ttl=64\"\n") << true;
        QTest::newRow("silent for a second, then no reply")
            << QByteArray("echo \"PING $5\"\nsleep 1\nexit 1\n") << false;
        QTest::newRow("reply split across writes")
            << QByteArray("printf 'bytes from x: t'\nsleep 0.3\nprintf 'tl=64\\n'\n") << true;
        QTest::newRow("no reply") << QByteArray(
            "echo \"PING $5\"\necho '3 packets transmitted, 0 received, 100% packet loss'\nexit 1\n")
                                  << false;
        QTest::newRow("silent") << QByteArray("exit 2\n") << false;
        QTest::newRow("reply only on stderr") << QByteArray("echo 'ttl=64' >&2\n") << false;
    }
    void fakePing()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, online);
        installFakePing(script);
        AddHostDialog dialog(backend.backend());
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("127.0.23.5"));

        // The search box is up while the probe runs.
        QString searching;
        QTimer watch;
        watch.setInterval(5);
        connect(&watch, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                if (box->buttons().isEmpty() && box->icon() == QMessageBox::Information)
                    searching = box->windowTitle() + QLatin1Char('|') + box->text();
            }
        });
        // The window goes on while ping runs: timers keep firing all along.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        connect(&watch, &QTimer::timeout, this, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
        watch.start();
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        dialog.findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        watch.stop();
        QVERIFY2(clock.elapsed() < 10000, "the probe waited far longer than the fake ping ran");
        QVERIFY2(longestGap < 200, qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(longestGap)));

        QCOMPARE(searching, QStringLiteral("Information|Searching for host..."));
        QCOMPARE(prompts.requests.size(), 1);
        const UserPrompt::Request &result = prompts.requests.first();
        QCOMPARE(result.parent, &dialog);
        QCOMPARE(result.buttons, QStringList {QStringLiteral("Sure")});
        if (online) {
            QCOMPARE(result.kind, UserPrompt::Kind::Information);
            QCOMPARE(result.title, QStringLiteral("Success"));
            QCOMPARE(result.text, QStringLiteral("Host is online!"));
        } else {
            QCOMPARE(result.kind, UserPrompt::Kind::Warning);
            QCOMPARE(result.title, QStringLiteral("Warning"));
            QCOMPARE(result.text, QStringLiteral("Host is offline!"));
        }
        QCOMPARE(readArgs(), QStringLiteral("-c 3 -W 2 127.0.23.5"));
        // A query is only a test: nothing is stored and the form is unchanged.
        QVERIFY(store.rows().isEmpty());
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->text(), QStringLiteral("127.0.23.5"));
        QCOMPARE(dialog.result(), 0);
    }

    void pingThatCannotStart_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("no ping on PATH") << false;
        QTest::newRow("ping not executable") << true;
    }
    void pingThatCannotStart()
    {
        QFETCH(bool, present);
        if (present) {
            installFakePing("echo ttl=64\n");
            QFile::setPermissions(fakeDir.filePath(QStringLiteral("ping")), QFile::ReadOwner | QFile::WriteOwner);
        }
        qputenv("PATH", QFile::encodeName(fakeDir.path()));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^Host query: the program ping could not be started")));
        AddHostDialog dialog(backend.backend());
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("127.0.23.5"));
        QElapsedTimer clock;
        clock.start();
        dialog.findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("Host is offline!")});
    }

    void notAnAddress_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("empty") << "";
        QTest::newRow("partial") << "192.168.";
        QTest::newRow("name") << "ups.local";
        QTest::newRow("option-like") << "-f";
    }
    void notAnAddress()
    {
        QFETCH(QString, host);
        installFakePing("echo ttl=64\n");
        AddHostDialog dialog(backend.backend());
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(host);
        dialog.findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("Invalid IPv4 address!")});
        QCOMPARE(prompts.requests.first().title, QStringLiteral("Warning"));
        QVERIFY2(!QFile::exists(argsFile()), "ping was started for text that is no address");
    }

    // The settings as typed, asked of a real agent once; the answer or the reason shows under the address.
    void cardQuery_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("v3");
        QTest::addColumn<QString>("community");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("auth");
        QTest::addColumn<int>("priv");
        QTest::addColumn<QString>("answer");
        const QString port = QString::number(cardPort);
        const QString answers = QStringLiteral("Answers: UPS-SIM 3000, on line, capacity 100 %");
        const QString silent = QStringLiteral("No answer: wrong community, wrong port or the card is unreachable");
        QTest::newRow("right community") << cardAddress << port << false << "public"
                                         << ""
                                         << "" << 0 << 0 << answers;
        QTest::newRow("wrong community") << cardAddress << port << false << "private"
                                         << ""
                                         << "" << 0 << 0 << silent;
        QTest::newRow("wrong port") << cardAddress << "16124" << false << "public"
                                    << ""
                                    << "" << 0 << 0 << silent;
        QTest::newRow("port 0 is no query")
            << cardAddress << "0" << false << "public"
            << ""
            << "" << 0 << 0 << "No query: the SNMP port must be a number from 1 to 65535.";
        QTest::newRow("v3 MD5 DES") << cardAddress << port << true << ""
                                    << "md5desuser"
                                    << "despassword" << int(Snmp::AuthMd5) << int(Snmp::PrivDes) << answers;
        QTest::newRow("v3 SHA AES") << cardAddress << port << true << ""
                                    << "shaaesuser"
                                    << "aespassword" << int(Snmp::AuthSha) << int(Snmp::PrivAes) << answers;
        QTest::newRow("v3 without privacy") << cardAddress << port << true << ""
                                            << "authonly"
                                            << "" << int(Snmp::AuthMd5) << 0 << answers;
        QTest::newRow("v3 without authentication") << cardAddress << port << true << ""
                                                   << "noauth7"
                                                   << "" << 0 << 0 << answers;
        // The user name is the authentication pass phrase: the other hash turns it into a wrong key.
        QTest::newRow("v3 wrong authentication")
            << cardAddress << port << true << ""
            << "md5desuser"
            << "despassword" << int(Snmp::AuthSha) << int(Snmp::PrivDes)
            << "Authentication failure: the card does not take this user name as pass phrase with SHA";
        QTest::newRow("v3 wrong privacy password")
            << cardAddress << port << true << ""
            << "md5desuser"
            << "wrongpassword" << int(Snmp::AuthMd5) << int(Snmp::PrivDes)
            << "No answer: wrong password or privacy type, wrong port or the card is unreachable";
        QTest::newRow("v3 unknown user") << cardAddress << port << true << ""
                                         << "nosuchuser"
                                         << "" << int(Snmp::AuthMd5) << 0
                                         << "Unknown user name: the card has no user nosuchuser";
        QTest::newRow("v3 privacy for a user without")
            << cardAddress << port << true << ""
            << "authonly"
            << "aespassword" << int(Snmp::AuthMd5) << int(Snmp::PrivAes)
            << "Unsupported security level: the card does not serve user authonly with authentication and privacy";
        QTest::newRow("v3 wrong port") << cardAddress << "16124" << true << ""
                                       << "md5desuser"
                                       << "despassword" << int(Snmp::AuthMd5) << int(Snmp::PrivDes)
                                       << "No answer: wrong password or privacy type, wrong port or the card is "
                                          "unreachable";
        QTest::newRow("v3 without privacy, wrong port")
            << cardAddress << "16124" << true << ""
            << "authonly"
            << "" << int(Snmp::AuthMd5) << 0 << "No answer: wrong port or the card is unreachable";
        QTest::newRow("card without two objects")
            << partialAddress << port << false << "public"
            << ""
            << "" << 0 << 0 << "The card answers (UPS-SIM 3000) but has no such object: input status, output status";
    }
    void cardQuery()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(bool, v3);
        QFETCH(QString, community);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, auth);
        QFETCH(int, priv);
        QFETCH(QString, answer);
        installFakePing("echo ttl=64\n");
        AddHostDialog dialog(backend.backend());
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(host);
        dialog.findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(port);
        if (v3) {
            dialog.findChild<QRadioButton *>(QStringLiteral("v3Radio"))->click();
            dialog.findChild<QLineEdit *>(QStringLiteral("userNameEdit"))->setText(user);
            dialog.findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(password);
            dialog.findChild<QComboBox *>(QStringLiteral("authCombo"))->setCurrentIndex(auth);
            dialog.findChild<QComboBox *>(QStringLiteral("privCombo"))->setCurrentIndex(priv);
        } else {
            dialog.findChild<QLineEdit *>(QStringLiteral("communityEdit"))->setText(community);
        }
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("answerLabel"));
        QVERIFY(label);
        dialog.findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        // The ping's own box came and went; the card's answer follows when it is in.
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("Host is online!")});
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), answer, 10000);
        // A query is no change: nothing is stored.
        QVERIFY(store.rows().isEmpty());
        QCOMPARE(dialog.result(), 0);
        // The answer is about what was asked: typing makes it void.
        QTest::keyClick(dialog.findChild<QLineEdit *>(QStringLiteral("portEdit")), Qt::Key_1);
        QCOMPARE(label->text(), QString());
    }

    // An answer to settings changed since is not shown, however late it comes.
    void editedSettingsDropTheAnswer()
    {
        installFakePing("echo ttl=64\n");
        AddHostDialog dialog(backend.backend());
        auto *host = dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"));
        auto *community = dialog.findChild<QLineEdit *>(QStringLiteral("communityEdit"));
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("answerLabel"));
        host->setText(cardAddress);
        dialog.findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(QString::number(cardPort));
        community->setText(QStringLiteral("private"));
        dialog.findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        QCOMPARE(label->text(), QStringLiteral("Asking the card..."));
        QTest::keyClicks(community, QStringLiteral("x"));
        QTRY_COMPARE_WITH_TIMEOUT(CardQuery::running(), 0, 10000);
        QTest::qWait(50);
        QCOMPARE(label->text(), QString());
    }

    // A query beside the engine's polling of the same card and user: the query's wrong keys are its own, and
    // the engine's right ones stay the engine's, whichever of the two made the library's user first.
    void queryLeavesTheEngineItsUser()
    {
        SNMPInfo right;
        right.ip = cardAddress;
        right.port = cardPort;
        right.version = Snmp::Usm;
        right.authType = Snmp::AuthMd5;
        right.privType = Snmp::PrivDes;
        right.userName = QStringLiteral("md5desuser");
        right.password = QStringLiteral("despassword");
        SNMPInfo wrong = right;
        wrong.authType = Snmp::AuthSha;

        // First the query's keys, then the engine's.
        QCOMPARE(CardQuery::ask(wrong).outcome, CardAnswer::AuthenticationFailure);
        SNMP engine;
        QSignalSpy auth(&engine, &SNMP::authenticationChanged);
        engine.startService();
        engine.addHost(right);
        QTRY_VERIFY_WITH_TIMEOUT(engine.manager()->status(right.peer()) == Snmp::Online, 10000);
        const CardAnswer asked = CardQuery::ask(wrong);
        QCOMPARE(asked.outcome, CardAnswer::AuthenticationFailure);
        // The engine's keys, meanwhile, still answer its polls.
        const quint64 before = engine.manager()->answerCount();
        QTRY_VERIFY_WITH_TIMEOUT(engine.manager()->answerCount() >= before + 2, 5000);
        QCOMPARE(engine.manager()->status(right.peer()), int(Snmp::Online));
        QCOMPARE(auth.count(), 0);
        QCOMPARE(CardQuery::ask(right).outcome, CardAnswer::Answered);
    }

    // The library stays up for a query whose engine goes meanwhile, and for the engine that comes after it.
    void engineGoingDuringAQuery()
    {
        SNMPInfo silent;
        silent.ip = cardAddress;
        silent.port = cardPort + 1;
        silent.version = Snmp::CommunityBased;
        silent.community = QStringLiteral("public");
        SNMPInfo whole = silent;
        whole.port = cardPort;
        QObject context;
        QList<CardAnswer> answers;
        const auto keep = [&answers](const CardAnswer &a) { answers << a; };
        {
            auto engine = std::make_unique<SNMP>();
            engine->startService();
            CardQuery::start(silent, &context, keep);
            CardQuery::start(whole, &context, keep);
            QTest::qWait(200);
            engine.reset();
        }
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 10000);
        QCOMPARE(answers.at(0).outcome, CardAnswer::Answered);
        QCOMPARE(answers.at(1).outcome, CardAnswer::NoAnswer);
        // The engine that comes next starts the library afresh and polls.
        SNMP engine;
        engine.startService();
        engine.addHost(whole);
        QTRY_VERIFY_WITH_TIMEOUT(engine.manager()->status(whole.peer()) == Snmp::Online, 10000);
        QCOMPARE(CardQuery::ask(whole).outcome, CardAnswer::Answered);
    }

    // An answer that comes after its dialog closed reaches nothing.
    void closedDialogGetsNoAnswer()
    {
        installFakePing("echo ttl=64\n");
        auto dialog = std::make_unique<AddHostDialog>(backend.backend());
        dialog->findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(cardAddress);
        dialog->findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(QStringLiteral("16124"));
        dialog->findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        QVERIFY(CardQuery::running() >= 1);
        dialog.reset();
        QTRY_COMPARE_WITH_TIMEOUT(CardQuery::running(), 0, 10000);
        QTest::qWait(50);
    }

    // The system's own ping, to the loopback address only.
    void realPingOfLoopback()
    {
        qputenv("PATH", originalPath);
        if (QStandardPaths::findExecutable(QStringLiteral("ping")).isEmpty())
            QSKIP("no ping program on this machine");
        AddHostDialog dialog(backend.backend());
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("127.0.0.1"));
        QElapsedTimer clock;
        clock.start();
        dialog.findChild<QPushButton *>(QStringLiteral("queryButton"))->click();
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("Host is online!")});
        QVERIFY(clock.elapsed() < 15000);
    }

private:
    QString argsFile() const { return fakeDir.filePath(QStringLiteral("args")); }
    QString readArgs() const
    {
        QFile f(argsFile());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    }
    void installFakePing(const QByteArray &body)
    {
        const QString path = fakeDir.filePath(QStringLiteral("ping"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\necho \"$@\" > '" + QFile::encodeName(argsFile()) + "'\n" + body);
        f.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(fakeDir.path()) + ':' + originalPath);
    }

    HostStore store;
    PromptRecorder prompts;
    BackendHolder backend {nullptr};
    QTemporaryDir fakeDir;
    QByteArray originalPath;
    std::unique_ptr<UpsSim> card;
    std::unique_ptr<UpsSim> partial;
};

QTEST_MAIN(TestHostQuery)
#include "tst_hostquery.moc"
