// The settings and host dialogs in front of the service through a BusBackend: the service object itself, in
// this process, on a private bus with the recording polkit, so that a test can hold polkit's answer as a person
// typing a password would and look at the dialog meanwhile.
#include "support/facekit.h"

#include "backend/localbackend.h"
#include "service/busbackend.h"
#include "service/protectionservice.h"
#include "storage/apppaths.h"
#include "storage/settings.h"
#include "support/fakelogind.h"
#include "ui/addhostdialog.h"
#include "ui/logdialog.h"
#include "ui/mainwindow.h"
#include "ui/settingsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <memory>

using namespace FaceKit;

namespace {
const QString configureAction = QStringLiteral("org.vigilex.protection1.configure");
const QString applicationAction = QStringLiteral("org.vigilex.protection1.configure-application");
const QString waiting = QStringLiteral("Waiting for authorisation...");
const QString notAuthorised
    = QStringLiteral("The change was refused: you are not authorised to change the UPS protection.");

QMap<QString, QString> settingsSnapshot()
{
    QSettings settings(AppPaths::settingsFilePath(), QSettings::IniFormat);
    QMap<QString, QString> out;
    for (const QString &key : settings.allKeys())
        out.insert(key, settings.value(key).toString());
    return out;
}

// The dialog has the service's answers and its fields are open.
bool opened(QWidget &dialog)
{
    return dialog.findChild<QPushButton *>(QStringLiteral("sureButton"))->isEnabled();
}

// The file without the window's own choice of language, which the window keeps wherever it runs.
QMap<QString, QString> protectionSettings()
{
    QMap<QString, QString> values = settingsSnapshot();
    values.remove(QStringLiteral("system/language"));
    return values;
}

int s_warnings = 0;
QtMessageHandler s_previousHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // The offscreen platform's own word about its tray is none of the program's.
    if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(QLatin1String("QPlatformNativeInterface")))
        ++s_warnings;
    s_previousHandler(type, context, text);
}

// What the dialog showed while polkit had not answered yet.
struct Seen
{
    bool held = false;
    QString status;
    bool sureEnabled = true;
};
} // namespace

class TestServiceDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void openingAsksNothing();
    void settingsSave_data();
    void settingsSave();
    void hostDialogKeepsSecrets_data();
    void hostDialogKeepsSecrets();
    void serviceNotRunning();

private:
    // Runs act with polkit's first answer held; once the dialog waits for it, looks and lets polkit answer.
    Seen whileHeld(QWidget &dialog, const std::function<void()> &act);

    HostStore store;
    PromptRecorder prompts;
    FakeLogind m_bus;
    std::unique_ptr<LocalBackend> m_protection;
    std::unique_ptr<ProtectionService> m_service;
    std::unique_ptr<BusBackend> m_backend;
};

void TestServiceDialogs::initTestCase()
{
    QVERIFY(store.app.isValid());
    QString why;
    QVERIFY2(m_bus.startBus(&why), qPrintable(why));
    QVERIFY2(m_bus.registerPolkit(true, &why), qPrintable(why));
    m_protection = std::make_unique<LocalBackend>();
    m_service = std::make_unique<ProtectionService>(
        m_protection.get(), QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("service")));
    QVERIFY2(m_service->registerOnBus(&why), qPrintable(why));
    m_backend
        = std::make_unique<BusBackend>(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("frontend")));
    QTRY_VERIFY_WITH_TIMEOUT(m_backend->isReachable(), 5000);
}

void TestServiceDialogs::init()
{
    store.reset();
    prompts.requests.clear();
    prompts.answers.clear();
    m_bus.setPolkitAnswer(true);
    m_bus.setPolkitRefusedActions({});
    m_bus.resetCalls();
}

Seen TestServiceDialogs::whileHeld(QWidget &dialog, const std::function<void()> &act)
{
    auto *sure = dialog.findChild<QPushButton *>(QStringLiteral("sureButton"));
    Seen seen;
    m_bus.holdPolkit(true);
    QTimer look;
    look.setInterval(10);
    connect(&look, &QTimer::timeout, &look, [&] {
        if (seen.held || m_bus.heldAuthorizations() == 0)
            return;
        seen.held = true;
        seen.status = dialog.findChild<QLabel *>(QStringLiteral("statusLabel"))->text();
        seen.sureEnabled = dialog.findChild<QPushButton *>(QStringLiteral("sureButton"))->isEnabled();
        m_bus.holdPolkit(false);
    });
    look.start();
    act();
    // Until polkit was asked and answered, or the dialog had its answer without it.
    auto *asDialog = qobject_cast<QDialog *>(&dialog);
    // The caller checks what was seen; a wait that ran out shows there.
    (void)QTest::qWaitFor(
        [&] { return seen.held || sure->isEnabled() || (asDialog && asDialog->result() == QDialog::Accepted); }, 10000);
    m_bus.holdPolkit(false);
    return seen;
}

// Shown with the defaults; nothing is written and nobody is asked until "Sure".
void TestServiceDialogs::openingAsksNothing()
{
    SettingsDialog dialog(m_backend.get());
    QTRY_VERIFY(opened(dialog));
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("acFailedTimeEdit"))->text(), QStringLiteral("5"));
    QVERIFY(!dialog.findChild<QCheckBox *>(QStringLiteral("appCheck"))->isChecked());
    QVERIFY(m_bus.calls().authorizations.isEmpty());
    QVERIFY(settingsSnapshot().isEmpty());
}

// Every change waits for polkit in the open; one request carries them all, and a batch with the application's
// keys (sent only when they change) needs an administrator, so that refusal writes nothing at all.
void TestServiceDialogs::settingsSave_data()
{
    QTest::addColumn<bool>("appStored"); // an enabled, trusted application is stored already
    QTest::addColumn<QString>("edit"); // "time", "application", "untrusted"
    QTest::addColumn<QStringList>("refused"); // the actions polkit refuses
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("prompt"); // the start of the one warning, or none
    QTest::addColumn<QString>("firstAction");

    const QString adminNeeded = QStringLiteral("The change was refused: the shutdown application is an administrator's "
                                               "choice, and changing or testing it needs an administrator's "
                                               "authorisation.");
    QTest::newRow("a condition by a member")
        << false << "time" << QStringList() << true << QString() << configureAction;
    QTest::newRow("the application by an administrator")
        << false << "application" << QStringList() << true << QString() << applicationAction;
    QTest::newRow("the application, administrator refused")
        << false << "application" << QStringList {applicationAction} << false << adminNeeded << applicationAction;
    QTest::newRow("a condition beside an unchanged application")
        << true << "time" << QStringList {applicationAction} << true << QString() << configureAction;
    QTest::newRow("a condition, refused")
        << false << "time" << QStringList {configureAction} << false << notAuthorised << configureAction;
    QTest::newRow("an application the service distrusts")
        << false << "untrusted" << QStringList() << false
        << QString(QStringLiteral("The change was refused: shutdown application ")
               + store.app.path(QStringLiteral("group-writable.sh")) + QStringLiteral(": writable by the group"))
        << QString();
}

void TestServiceDialogs::settingsSave()
{
    QFETCH(bool, appStored);
    QFETCH(QString, edit);
    QFETCH(QStringList, refused);
    QFETCH(bool, accepted);
    QFETCH(QString, prompt);
    QFETCH(QString, firstAction);
    const QString program = QCoreApplication::applicationFilePath();
    const QString untrusted = store.app.path(QStringLiteral("group-writable.sh"));
    QFile file(untrusted);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
    if (appStored) {
        writeSetting(AppPaths::settingsFilePath(), QStringLiteral("system/shutdown_app_enable"), true);
        writeSetting(AppPaths::settingsFilePath(), QStringLiteral("system/shutdown_app"), program);
    }
    m_bus.setPolkitRefusedActions(refused);

    SettingsDialog dialog(m_backend.get());
    QTRY_VERIFY(opened(dialog));
    const QMap<QString, QString> before = settingsSnapshot();
    auto *sure = dialog.findChild<QPushButton *>(QStringLiteral("sureButton"));
    if (edit == QLatin1String("time")) {
        dialog.findChild<QLineEdit *>(QStringLiteral("acFailedTimeEdit"))->setText(QStringLiteral("7"));
    } else {
        dialog.findChild<QCheckBox *>(QStringLiteral("appCheck"))->click();
        dialog.findChild<QLineEdit *>(QStringLiteral("appPathEdit"))
            ->setText(edit == QLatin1String("application") ? program : untrusted);
    }
    const Seen seen = whileHeld(dialog, [sure] { sure->click(); });
    QTRY_VERIFY_WITH_TIMEOUT(sure->isEnabled() || dialog.result() == QDialog::Accepted, 10000);

    const FakeLogind::Calls calls = m_bus.calls();
    if (!firstAction.isEmpty()) {
        QVERIFY(seen.held);
        QCOMPARE(seen.status, waiting);
        QVERIFY(!seen.sureEnabled);
        QCOMPARE(calls.authorizations.value(0), firstAction);
    }
    // One question: the group's action, or the administrator's for a batch with a changed application.
    QCOMPARE(calls.authorizations, firstAction.isEmpty() ? QStringList() : QStringList {firstAction});
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("statusLabel"))->text(), QString());
    QVERIFY(sure->isEnabled());
    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    if (prompt.isEmpty()) {
        QVERIFY2(prompts.requests.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(prompts.texts(), QStringList {prompt});
        QCOMPARE(prompts.requests.first().kind, UserPrompt::Kind::Warning);
    }
    const QMap<QString, QString> after = settingsSnapshot();
    if (!accepted) {
        QCOMPARE(after, before);
        return;
    }
    const bool application = appStored || edit != QLatin1String("time");
    QCOMPARE(after.value(QStringLiteral("shutdown/ac_failed_time")),
        QLatin1String(edit == QLatin1String("time") ? "7" : "5"));
    QCOMPARE(
        after.value(QStringLiteral("system/shutdown_app_enable")), application ? QStringLiteral("true") : QString());
    QCOMPARE(after.value(QStringLiteral("system/shutdown_app")), application ? program : QString());
}

// The service never gives a secret out: the fields stay empty with "unchanged", and an untouched one keeps
// the stored secret, but only on the card's own address.
void TestServiceDialogs::hostDialogKeepsSecrets_data()
{
    QTest::addColumn<bool>("v3");
    QTest::addColumn<QString>("edit"); // "", "port", "auth", "move", "move with community"
    QTest::addColumn<bool>("allowed"); // polkit's answer
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("prompt"); // a piece of the one refusal, or none

    // Refused by the service, which names what is missing (or kept only on the address).
    const QString moved = QStringLiteral("community");
    const QString movedV3 = QStringLiteral("user name");
    QTest::newRow("community untouched") << false << "" << true << true << QString();
    QTest::newRow("port changed, community untouched") << false << "port" << true << true << QString();
    QTest::newRow("v3 authentication changed, secrets untouched") << true << "auth" << true << true << QString();
    QTest::newRow("moved, community untouched") << false << "move" << true << false << moved;
    QTest::newRow("v3 moved, secrets untouched") << true << "move" << true << false << movedV3;
    QTest::newRow("moved with a community") << false << "move with community" << true << true << QString();
    QTest::newRow("refused") << false << "port" << false << false << QStringLiteral("not authorised");
}

void TestServiceDialogs::hostDialogKeepsSecrets()
{
    QFETCH(bool, v3);
    QFETCH(QString, edit);
    QFETCH(bool, allowed);
    QFETCH(bool, accepted);
    QFETCH(QString, prompt);
    const QString ip = QStringLiteral("10.0.0.1");
    const SNMPInfo stored = v3 ? usmCard(ip, 161, QStringLiteral("operator1"), QStringLiteral("secretsecret"), 1, 0)
                               : card(ip, 161, QStringLiteral("private"));
    store.insert(stored);
    m_bus.setPolkitAnswer(allowed);

    // As the settings dialog hands it over: without the secrets, which the service never gives out.
    const StoredCard shown = storedCard(*m_backend, ip);
    QCOMPARE(shown.info.ip, ip);
    QCOMPARE(shown.communitySet, !v3);
    QCOMPARE(shown.userNameSet && shown.passwordSet, v3);
    AddHostDialog dialog(m_backend.get(), shown);
    auto field = [&dialog](const char *name) { return dialog.findChild<QLineEdit *>(QLatin1String(name)); };
    for (const char *name : {"communityEdit", "userNameEdit", "passwordEdit"})
        QCOMPARE(field(name)->text(), QString());
    const QStringList secretFields = v3 ? QStringList {QStringLiteral("userNameEdit"), QStringLiteral("passwordEdit")}
                                        : QStringList {QStringLiteral("communityEdit")};
    for (const QString &name : secretFields)
        QCOMPARE(field(name.toLatin1().constData())->placeholderText(), QStringLiteral("unchanged"));

    SNMPInfo expected = stored;
    if (edit == QLatin1String("port")) {
        field("portEdit")->setText(QStringLiteral("1161"));
        expected.port = 1161;
    } else if (edit == QLatin1String("auth")) {
        dialog.findChild<QComboBox *>(QStringLiteral("authCombo"))->setCurrentIndex(0);
        expected.authType = 0;
    } else if (edit.startsWith(QLatin1String("move"))) {
        field("hostEdit")->setText(QStringLiteral("10.0.0.9"));
        expected.ip = QStringLiteral("10.0.0.9");
        if (edit.endsWith(QLatin1String("community"))) {
            field("communityEdit")->setText(QStringLiteral("other"));
            expected.community = QStringLiteral("other");
        }
    }
    auto *sure = dialog.findChild<QPushButton *>(QStringLiteral("sureButton"));
    const Seen seen = whileHeld(dialog, [sure] { sure->click(); });
    QTRY_VERIFY_WITH_TIMEOUT(sure->isEnabled() || dialog.result() == QDialog::Accepted, 10000);

    // The service asks polkit for what it may take; meanwhile the dialog said that it waits.
    const bool asked = !m_bus.calls().authorizations.isEmpty();
    if (prompt.isEmpty() || !allowed)
        QVERIFY(asked);
    QCOMPARE(seen.held, asked);
    if (asked) {
        QCOMPARE(seen.status, waiting);
        QVERIFY(!seen.sureEnabled);
        QCOMPARE(m_bus.calls().authorizations, QStringList {configureAction});
    }
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("statusLabel"))->text(), QString());
    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    if (prompt.isEmpty()) {
        QVERIFY2(prompts.requests.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(prompts.texts().size(), 1);
        QVERIFY2(prompts.texts().first().startsWith(QLatin1String("The change was refused: "))
                && prompts.texts().first().contains(prompt),
            qPrintable(prompts.texts().first()));
    }
    const QList<QVariantMap> rows = store.rows();
    QCOMPARE(rows.size(), 1);
    const QVariantMap row = rows.first();
    if (!accepted)
        expected = stored;
    QCOMPARE(row.value(QStringLiteral("ip")).toString(), expected.ip);
    QCOMPARE(row.value(QStringLiteral("port")).toInt(), expected.port);
    if (v3) {
        QCOMPARE(row.value(QStringLiteral("authType")).toInt(), expected.authType);
        QCOMPARE(row.value(QStringLiteral("userName")).toString(), expected.userName);
        QCOMPARE(row.value(QStringLiteral("password")).toString(), expected.password);
    } else {
        QCOMPARE(row.value(QStringLiteral("community")).toString(), expected.community);
    }
}

// A front end whose service is not on its bus (a private bus with nothing on it): one clear state, dialogs that
// show what they can and change nothing, no warning; when the service comes, everything follows.
void TestServiceDialogs::serviceNotRunning()
{
    FakeLogind empty;
    QString why;
    QVERIFY2(empty.startBus(&why), qPrintable(why));
    store.insert(card(QStringLiteral("10.0.0.1"), 161));
    const QString notRunning
        = QStringLiteral("Not protected: the protection service is not running. Start it with: sudo systemctl start "
                         "vigilex");
    s_warnings = 0;
    s_previousHandler = qInstallMessageHandler(countWarnings);
    {
        BusBackend backend(QDBusConnection::connectToBus(empty.address(), QStringLiteral("absent")));
        MainWindow window(&backend);
        QTest::qWait(200); // the bus's word on the service's name
        QVERIFY(!backend.isReachable());
        QCOMPARE(window.statusText(), notRunning);
        QCOMPARE(window.findChild<QListWidget *>(QStringLiteral("hostList"))->count(), 0);
        QCOMPARE(window.findChild<QTableWidget *>(QStringLiteral("eventTable"))->rowCount(), 0);

        // Read-only, saying why, without a box; nothing of it can be sent.
        SettingsDialog settings(&backend);
        QTest::qWait(100);
        auto *status = settings.findChild<QLabel *>(QStringLiteral("statusLabel"));
        QVERIFY2(status->text().contains(QStringLiteral("sudo systemctl start vigilex")), qPrintable(status->text()));
        for (const char *name : {"sureButton", "addButton", "modifyButton", "removeButton", "popupCheck", "appCheck",
                 "acFailedTimeEdit"})
            QVERIFY2(!settings.findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
        settings.findChild<QPushButton *>(QStringLiteral("sureButton"))->click();
        LogDialog log(&backend);
        auto *logStatus = log.findChild<QLabel *>(QStringLiteral("statusLabel"));
        QTRY_VERIFY(logStatus->text().contains(QStringLiteral("not running")));
        QCOMPARE(log.findChild<QTableWidget *>(QStringLiteral("tableWidget"))->rowCount(), 0);
        QVERIFY(prompts.requests.isEmpty());
        QVERIFY(protectionSettings().isEmpty());
        QCOMPARE(s_warnings, 0);

        // The service comes: the window, the lamps and the open dialog follow.
        LocalBackend protection;
        ProtectionService service(&protection, QDBusConnection::connectToBus(empty.address(), QStringLiteral("late")));
        QVERIFY2(service.registerOnBus(&why), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(backend.isReachable(), 5000);
        QTRY_COMPARE(window.hosts(), QStringList {QStringLiteral("10.0.0.1")});
        QTRY_COMPARE(window.statusText(), QStringLiteral("Waiting for the first report of 1 card"));
        QTRY_VERIFY(settings.findChild<QPushButton *>(QStringLiteral("sureButton"))->isEnabled());
        QCOMPARE(settings.findChild<QTableWidget *>(QStringLiteral("hostTable"))->rowCount(), 1);
        QVERIFY(protectionSettings().isEmpty());
        QVERIFY(prompts.requests.isEmpty());
    }
    qInstallMessageHandler(s_previousHandler);
    QCOMPARE(s_warnings, 0);
}

QTEST_MAIN(TestServiceDialogs)
#include "tst_servicedialogs.moc"
