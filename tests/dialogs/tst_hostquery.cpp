#include "support/facekit.h"

#include "ui/addhostdialog.h"
#include "ui/reachability.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace FaceKit;

// "Query" runs the program named ping found first on PATH; these tests put a fake one there.
class TestHostQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(store.app.isValid());
        QVERIFY(fakeDir.isValid());
        originalPath = qgetenv("PATH");
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
        const QStringList args = Reachability::arguments(QStringLiteral("10.0.0.5"));
        QCOMPARE(args.last(), QStringLiteral("10.0.0.5"));
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
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("10.0.0.5"));

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
        QCOMPARE(readArgs(), QStringLiteral("-c 3 -W 2 10.0.0.5"));
        // A query is only a test: nothing is stored and the form is unchanged.
        QVERIFY(store.rows().isEmpty());
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->text(), QStringLiteral("10.0.0.5"));
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
        dialog.findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("10.0.0.5"));
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
};

QTEST_MAIN(TestHostQuery)
#include "tst_hostquery.moc"
