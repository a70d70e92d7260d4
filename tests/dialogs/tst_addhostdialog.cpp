#include "support/facekit.h"

#include "ui/addhostdialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTranslator>
#include <QValidator>
#include <QtTest>

namespace {
struct Form
{
    explicit Form(AddHostDialog &d)
        : dialog(d),
          v1v2(d.findChild<QRadioButton *>(QStringLiteral("v1v2Radio"))),
          v3(d.findChild<QRadioButton *>(QStringLiteral("v3Radio"))),
          user(d.findChild<QLineEdit *>(QStringLiteral("userNameEdit"))),
          password(d.findChild<QLineEdit *>(QStringLiteral("passwordEdit"))),
          auth(d.findChild<QComboBox *>(QStringLiteral("authCombo"))),
          priv(d.findChild<QComboBox *>(QStringLiteral("privCombo"))),
          host(d.findChild<QLineEdit *>(QStringLiteral("hostEdit"))),
          port(d.findChild<QLineEdit *>(QStringLiteral("portEdit"))),
          community(d.findChild<QLineEdit *>(QStringLiteral("communityEdit"))),
          sure(d.findChild<QPushButton *>(QStringLiteral("sureButton"))),
          cancel(d.findChild<QPushButton *>(QStringLiteral("cancelButton")))
    {
        QObject::connect(&d, &AddHostDialog::hostAdded, &d, [this](const SNMPInfo &info) { added << info; });
        QObject::connect(&d, &AddHostDialog::hostModified, &d,
            [this](const SNMPInfo &n, const SNMPInfo &o) { modified << qMakePair(n, o); });
    }
    bool complete() const
    {
        return v1v2 && v3 && user && password && auth && priv && host && port && community && sure && cancel;
    }
    bool v3FieldsEnabled() const
    {
        return user->isEnabled() && password->isEnabled() && auth->isEnabled() && priv->isEnabled();
    }
    bool v3FieldsDisabled() const
    {
        return !user->isEnabled() && !password->isEnabled() && !auth->isEnabled() && !priv->isEnabled();
    }
    bool accepted() const { return dialog.result() == QDialog::Accepted; }
    int emitted() const { return added.size() + modified.size(); }

    AddHostDialog &dialog;
    QRadioButton *v1v2, *v3;
    QLineEdit *user, *password;
    QComboBox *auth, *priv;
    QLineEdit *host, *port, *community;
    QPushButton *sure, *cancel;
    QList<SNMPInfo> added;
    QList<QPair<SNMPInfo, SNMPInfo>> modified;
};
} // namespace

class TestAddHostDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(store.app.isValid()); }
    void init()
    {
        store.reset();
        prompts.requests.clear();
        prompts.answers.clear();
    }

    void addModeDefaults()
    {
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        QVERIFY(f.complete());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add"));
        QCOMPARE(dialog.size(), QSize(400, 300));
        QVERIFY(closeButtonOnly(dialog));
        QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
        QVERIFY(f.v1v2->isChecked());
        QVERIFY(!f.v3->isChecked());
        QCOMPARE(f.community->text(), QStringLiteral("public"));
        QCOMPARE(f.port->text(), QStringLiteral("161"));
        QVERIFY(f.community->isEnabled());
        QVERIFY(f.v3FieldsDisabled());
        QCOMPARE(f.password->echoMode(), QLineEdit::Password);
        QCOMPARE(f.auth->count(), 2);
        QCOMPARE(f.auth->itemText(0), QStringLiteral("MD5"));
        QCOMPARE(f.auth->itemText(1), QStringLiteral("SHA"));
        QCOMPARE(f.priv->itemText(0), QStringLiteral("DES"));
        QCOMPARE(f.priv->itemText(1), QStringLiteral("AES"));
    }

    void versionSwitchKeepsFields()
    {
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.v3->click();
        QVERIFY(f.v3FieldsEnabled());
        QVERIFY(!f.community->isEnabled());
        f.user->setText(QStringLiteral("operator1"));
        f.v1v2->click();
        QVERIFY(f.v3FieldsDisabled());
        QVERIFY(f.community->isEnabled());
        QCOMPARE(f.community->text(), QStringLiteral("public"));
        QCOMPARE(f.user->text(), QStringLiteral("operator1"));
    }

    void validators_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        const int ok = QValidator::Acceptable, partial = QValidator::Intermediate, bad = QValidator::Invalid;
        QTest::newRow("host complete") << "host"
                                       << "10.0.0.5" << ok;
        QTest::newRow("host while typing") << "host"
                                           << "192.168." << partial;
        QTest::newRow("host octet 256") << "host"
                                        << "192.168.1.256" << bad;
        QTest::newRow("host leading zero") << "host"
                                           << "192.168.01.1" << bad;
        QTest::newRow("host letters") << "host"
                                      << "ups.local" << bad;
        QTest::newRow("host five octets") << "host"
                                          << "1.2.3.4.5" << bad;
        QTest::newRow("port 0") << "port"
                                << "0" << ok;
        QTest::newRow("port 65535") << "port"
                                    << "65535" << ok;
        QTest::newRow("port negative") << "port"
                                       << "-1" << bad;
    }
    void validators()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(int, state);
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        QLineEdit *edit = field == QLatin1String("host") ? f.host : f.port;
        QVERIFY(edit->validator());
        int pos = 0;
        QCOMPARE(int(edit->validator()->validate(text, pos)), state);
    }

    // Texts set programmatically bypass the validator, so "Sure" must check the whole address itself.
    void sureChecksHostFormat_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("valid");
        QTest::newRow("three octets") << "192.168.1" << false;
        QTest::newRow("octet 256") << "192.168.1.256" << false;
        QTest::newRow("leading zero") << "192.168.01.1" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("trailing space") << "10.0.0.1 " << false;
        QTest::newRow("trailing dot") << "10.0.0.1." << false;
        QTest::newRow("all zero") << "0.0.0.0" << true;
        QTest::newRow("broadcast") << "255.255.255.255" << true;
        QTest::newRow("ordinary") << "10.20.30.199" << true;
    }
    void sureChecksHostFormat()
    {
        QFETCH(QString, host);
        QFETCH(bool, valid);
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(host);
        f.sure->click();
        if (valid) {
            QVERIFY(prompts.requests.isEmpty());
            QCOMPARE(f.added.size(), 1);
            QCOMPARE(f.added.first().ip, host);
            QVERIFY(f.accepted());
            QCOMPARE(store.rows().size(), 1);
        } else {
            QCOMPARE(prompts.texts(), QStringList {QStringLiteral("Host format error!")});
            QCOMPARE(prompts.requests.first().kind, UserPrompt::Kind::Warning);
            QCOMPARE(prompts.requests.first().title, QStringLiteral("Warning"));
            QCOMPARE(prompts.requests.first().buttons, QStringList {QStringLiteral("Sure")});
            QCOMPARE(prompts.requests.first().parent, &dialog);
            QVERIFY(f.added.isEmpty());
            QVERIFY(!f.accepted());
            QVERIFY(store.rows().isEmpty());
        }
    }

    void communityHostChecks_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("community");
        QTest::addColumn<QString>("message");
        QTest::newRow("port 0 stored as 0") << "0"
                                            << "public"
                                            << "";
        QTest::newRow("empty port") << ""
                                    << "public"
                                    << "SNMP port error!";
        QTest::newRow("port 65535") << "65535"
                                    << "public"
                                    << "";
        // Typing lets a five-digit number through; none above 65535 is a port.
        QTest::newRow("port 65536") << "65536"
                                    << "public"
                                    << "SNMP port error!";
        QTest::newRow("port 99999") << "99999"
                                    << "public"
                                    << "SNMP port error!";
        QTest::newRow("empty community") << "161"
                                         << ""
                                         << "Community error!";
        QTest::newRow("port checked before community") << ""
                                                       << ""
                                                       << "SNMP port error!";
    }
    void communityHostChecks()
    {
        QFETCH(QString, port);
        QFETCH(QString, community);
        QFETCH(QString, message);
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(QStringLiteral("10.0.0.5"));
        f.port->setText(port);
        f.community->setText(community);
        f.sure->click();
        if (message.isEmpty()) {
            QVERIFY(prompts.requests.isEmpty());
            const QList<QVariantMap> rows = store.rows();
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows[0].value(QStringLiteral("port")).toInt(), port.toInt());
            QCOMPARE(rows[0].value(QStringLiteral("version")).toInt(), 0);
            QCOMPARE(rows[0].value(QStringLiteral("community")).toString(), community);
            QVERIFY(rows[0].value(QStringLiteral("userName")).isNull());
            QVERIFY(rows[0].value(QStringLiteral("authType")).isNull());
            QVERIFY(rows[0].value(QStringLiteral("date")).toLongLong() > 1600000000);
            QCOMPARE(f.added.size(), 1);
            QVERIFY(sameInfo(f.added.first(), communityHost(QStringLiteral("10.0.0.5"), port.toInt(), community)));
        } else {
            QCOMPARE(prompts.texts(), QStringList {message});
            QVERIFY(store.rows().isEmpty());
            QCOMPARE(f.emitted(), 0);
            QVERIFY(!f.accepted());
        }
    }

    void usmHostChecks_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty user") << ""
                                    << ""
                                    << "User name cannot be null!";
        QTest::newRow("user of 7") << "abcdefg"
                                   << ""
                                   << "User name must be greater than 8 characters!";
        QTest::newRow("user of 8, no password") << "abcdefgh"
                                                << ""
                                                << "";
        QTest::newRow("user of 8, password of 7") << "abcdefgh"
                                                  << "1234567"
                                                  << "Password must be greater than 8 characters!";
        QTest::newRow("user of 8, password of 8") << "abcdefgh"
                                                  << "12345678"
                                                  << "";
        QTest::newRow("user of 7 checked before password") << "abcdefg"
                                                           << "1"
                                                           << "User name must be greater than 8 characters!";
        // Lengths count characters, not bytes of UTF-8.
        QTest::newRow("user of 8 CJK characters")
            << QStringLiteral("\u7528\u6237\u7528\u6237\u7528\u6237\u7528\u6237") << ""
            << "";
        QTest::newRow("user of 4 CJK characters") << QStringLiteral("\u7528\u6237\u7528\u6237") << ""
                                                  << "User name must be greater than 8 characters!";
    }
    void usmHostChecks()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(QStringLiteral("10.0.0.7"));
        f.v3->click();
        f.user->setText(user);
        f.password->setText(password);
        f.auth->setCurrentIndex(1);
        f.priv->setCurrentIndex(0);
        f.sure->click();
        if (message.isEmpty()) {
            QVERIFY(prompts.requests.isEmpty());
            const QList<QVariantMap> rows = store.rows();
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows[0].value(QStringLiteral("version")).toInt(), 1);
            QVERIFY(rows[0].value(QStringLiteral("community")).isNull());
            QCOMPARE(rows[0].value(QStringLiteral("authType")).toInt(), 1);
            QCOMPARE(rows[0].value(QStringLiteral("privType")).toInt(), 0);
            QCOMPARE(rows[0].value(QStringLiteral("userName")).toString(), user);
            QCOMPARE(rows[0].value(QStringLiteral("password")).toString(), password);
            QCOMPARE(f.added.size(), 1);
            // The community typed before switching is not part of a v3 record.
            QVERIFY(sameInfo(f.added.first(), usmHost(QStringLiteral("10.0.0.7"), 161, user, password, 1, 0)));
            QVERIFY(f.accepted());
        } else {
            QCOMPARE(prompts.texts(), QStringList {message});
            QVERIFY(store.rows().isEmpty());
            QCOMPARE(f.emitted(), 0);
        }
    }

    void addressAlreadyStored_data()
    {
        QTest::addColumn<bool>("v3");
        QTest::newRow("community host") << false;
        QTest::newRow("v3 host") << true;
    }
    void addressAlreadyStored()
    {
        QFETCH(bool, v3);
        store.insert(communityHost(QStringLiteral("10.0.0.5"), 161));
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(QStringLiteral("10.0.0.5"));
        f.port->setText(QStringLiteral("1161"));
        if (v3) {
            f.v3->click();
            f.user->setText(QStringLiteral("abcdefgh"));
        }
        f.sure->click();
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("SNMP host exists!")});
        QCOMPARE(store.rows().size(), 1);
        QCOMPARE(f.emitted(), 0);
        QVERIFY(!f.accepted());
    }

    void modifyLoadsByPosition()
    {
        store.insert(communityHost(QStringLiteral("10.0.0.1"), 161, QStringLiteral("first")));
        const SNMPInfo v3 = usmHost(
            QStringLiteral("10.0.0.2"), 1161, QStringLiteral("operator1"), QStringLiteral("secretsecret"), 1, 1);
        store.insert(v3);
        AddHostDialog dialog(true, v3, nullptr);
        Form f(dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Modify"));
        QCOMPARE(f.host->text(), QStringLiteral("10.0.0.2"));
        QCOMPARE(f.port->text(), QStringLiteral("1161"));
        QVERIFY(f.v3->isChecked());
        QVERIFY(f.v3FieldsEnabled());
        QVERIFY(!f.community->isEnabled());
        QCOMPARE(f.community->text(), QString()); // no "public" default in modify mode
        QCOMPARE(f.user->text(), v3.userName);
        QCOMPARE(f.password->text(), v3.password);
        QCOMPARE(f.auth->currentIndex(), 1);
        QCOMPARE(f.priv->currentIndex(), 1);
    }

    void modifyUsmToCommunityKeepsUsmColumns()
    {
        const SNMPInfo old = usmHost(
            QStringLiteral("10.0.0.2"), 161, QStringLiteral("operator1"), QStringLiteral("secretsecret"), 1, 1);
        store.insert(communityHost(QStringLiteral("10.0.0.1"), 161, QStringLiteral("other")));
        store.insert(old);
        AddHostDialog dialog(true, old, nullptr);
        Form f(dialog);
        f.v1v2->click();
        f.community->setText(QStringLiteral("private"));
        f.port->setText(QStringLiteral("162"));
        f.sure->click();
        QVERIFY(prompts.requests.isEmpty());
        QVERIFY(f.accepted());
        const QList<QVariantMap> rows = store.rows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].value(QStringLiteral("community")).toString(), QStringLiteral("other"));
        QCOMPARE(rows[1].value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.2"));
        QCOMPARE(rows[1].value(QStringLiteral("port")).toInt(), 162);
        QCOMPARE(rows[1].value(QStringLiteral("version")).toInt(), 0);
        QCOMPARE(rows[1].value(QStringLiteral("community")).toString(), QStringLiteral("private"));
        QCOMPARE(rows[1].value(QStringLiteral("authType")).toInt(), 1);
        QCOMPARE(rows[1].value(QStringLiteral("privType")).toInt(), 1);
        QCOMPARE(rows[1].value(QStringLiteral("userName")).toString(), old.userName);
        QCOMPARE(rows[1].value(QStringLiteral("password")).toString(), old.password);
        QCOMPARE(f.modified.size(), 1);
        QVERIFY(
            sameInfo(f.modified[0].first, communityHost(QStringLiteral("10.0.0.2"), 162, QStringLiteral("private"))));
        QVERIFY(sameInfo(f.modified[0].second, old));
        QVERIFY(f.added.isEmpty());
    }

    void modifyCommunityToUsm()
    {
        const SNMPInfo old = communityHost(QStringLiteral("10.0.0.3"), 161, QStringLiteral("keepme"));
        store.insert(old);
        AddHostDialog dialog(true, old, nullptr);
        Form f(dialog);
        QVERIFY(f.v1v2->isChecked());
        QCOMPARE(f.community->text(), QStringLiteral("keepme"));
        QVERIFY(f.v3FieldsDisabled());
        f.v3->click();
        f.user->setText(QStringLiteral("abcdefgh"));
        f.sure->click();
        const QList<QVariantMap> rows = store.rows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].value(QStringLiteral("version")).toInt(), 1);
        QCOMPARE(rows[0].value(QStringLiteral("community")).toString(), QStringLiteral("keepme"));
        QCOMPARE(rows[0].value(QStringLiteral("userName")).toString(), QStringLiteral("abcdefgh"));
        QCOMPARE(f.modified.size(), 1);
    }

    void storedUnknownVersion()
    {
        SNMPInfo odd = communityHost(QStringLiteral("10.0.0.9"), 161, QString());
        odd.version = 2;
        store.insert(odd);
        AddHostDialog dialog(true, odd, nullptr);
        Form f(dialog);
        QVERIFY(!f.v1v2->isChecked());
        QVERIFY(!f.v3->isChecked());
        QVERIFY(f.community->isEnabled());
        QVERIFY(f.v3FieldsEnabled());
        QVERIFY(f.community->text().isEmpty());
        QVERIFY(f.user->text().isEmpty());
        f.sure->click();
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("SNMP version error!")});
        QCOMPARE(f.emitted(), 0);
        QVERIFY(!f.accepted());

        f.v1v2->click();
        f.community->setText(QStringLiteral("public"));
        f.sure->click();
        QCOMPARE(prompts.requests.size(), 1);
        QCOMPARE(store.rows().first().value(QStringLiteral("version")).toInt(), 0);
        QCOMPARE(f.modified.size(), 1);
    }

    void failingStatementEmitsNothing_data()
    {
        QTest::addColumn<bool>("modify");
        QTest::addColumn<bool>("v3");
        QTest::addColumn<bool>("dropTable");
        QTest::newRow("add, read-only") << false << false << false;
        QTest::newRow("add v3, read-only") << false << true << false;
        QTest::newRow("modify, read-only") << true << false << false;
        QTest::newRow("modify v3, read-only") << true << true << false;
        QTest::newRow("add, table gone") << false << false << true;
        QTest::newRow("modify, table gone") << true << true << true;
    }
    void failingStatementEmitsNothing()
    {
        QFETCH(bool, modify);
        QFETCH(bool, v3);
        QFETCH(bool, dropTable);
        const SNMPInfo old = communityHost(QStringLiteral("10.0.0.4"), 161);
        if (modify)
            store.insert(old);
        AddHostDialog dialog(modify, modify ? old : SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(QStringLiteral("10.0.0.44"));
        if (v3) {
            f.v3->click();
            f.user->setText(QStringLiteral("abcdefgh"));
        }
        if (dropTable)
            QVERIFY(store.exec(QStringLiteral("drop table snmp_session")));
        else
            store.setReadOnly(true);
        f.sure->click();
        store.setReadOnly(false);
        QVERIFY(prompts.requests.isEmpty());
        QCOMPARE(f.emitted(), 0);
        QVERIFY(!f.accepted());
        if (!dropTable) {
            QCOMPARE(store.rows().size(), modify ? 1 : 0);
            if (modify)
                QCOMPARE(store.rows().first().value(QStringLiteral("ip")).toString(), old.ip);
        }
    }

    // Changing the address of a stored host onto another stored host would leave two rows with one identity.
    void modifyRefusesTakenAddress_data()
    {
        QTest::addColumn<QString>("newIp");
        QTest::addColumn<QString>("newPort");
        QTest::addColumn<bool>("v3");
        QTest::addColumn<bool>("refused");
        QTest::newRow("onto other host") << "10.0.0.2"
                                         << "161" << false << true;
        QTest::newRow("onto other host, other port") << "10.0.0.2"
                                                     << "1161" << false << true;
        QTest::newRow("onto other host as v3") << "10.0.0.2"
                                               << "161" << true << true;
        QTest::newRow("own address, new port") << "10.0.0.1"
                                               << "1161" << false << false;
        QTest::newRow("own address as v3") << "10.0.0.1"
                                           << "161" << true << false;
        QTest::newRow("free address") << "10.0.0.3"
                                      << "161" << false << false;
    }
    void modifyRefusesTakenAddress()
    {
        QFETCH(QString, newIp);
        QFETCH(QString, newPort);
        QFETCH(bool, v3);
        QFETCH(bool, refused);
        const SNMPInfo a = communityHost(QStringLiteral("10.0.0.1"), 161, QStringLiteral("a"));
        store.insert(a);
        store.insert(communityHost(QStringLiteral("10.0.0.2"), 161, QStringLiteral("b")));
        AddHostDialog dialog(true, a, nullptr);
        Form f(dialog);
        f.host->setText(newIp);
        f.port->setText(newPort);
        if (v3) {
            f.v3->click();
            f.user->setText(QStringLiteral("abcdefgh"));
        }
        f.sure->click();
        const QList<QVariantMap> rows = store.rows();
        if (refused) {
            QCOMPARE(prompts.texts(), QStringList {QStringLiteral("SNMP host exists!")});
            QCOMPARE(f.emitted(), 0);
            QCOMPARE(rows[0].value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.1"));
            QCOMPARE(rows[0].value(QStringLiteral("port")).toInt(), 161);
        } else {
            QVERIFY(prompts.requests.isEmpty());
            QCOMPARE(f.modified.size(), 1);
            QCOMPARE(rows[0].value(QStringLiteral("ip")).toString(), newIp);
            QCOMPARE(rows[0].value(QStringLiteral("port")).toInt(), newPort.toInt());
        }
        QCOMPARE(rows[1].value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.2"));
    }

    void cancelWritesNothing()
    {
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(QStringLiteral("10.0.0.5"));
        QTimer::singleShot(0, f.cancel, &QPushButton::click);
        dialog.exec();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(f.emitted(), 0);
        QVERIFY(store.rows().isEmpty());
    }

    void sureEndsExec()
    {
        AddHostDialog dialog(false, SNMPInfo(), nullptr);
        Form f(dialog);
        f.host->setText(QStringLiteral("10.0.0.5"));
        QTimer::singleShot(0, f.sure, &QPushButton::click);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(f.added.size(), 1);
    }

    // The form's texts come from the window's context, the title "Modify" and the messages from the dialog's.
    void chineseTexts()
    {
        QTranslator zh;
        QVERIFY(zh.load(store.app.path(QStringLiteral("translate/zh.qm"))));
        QCoreApplication::installTranslator(&zh);
        const SNMPInfo stored = communityHost(QStringLiteral("10.0.0.1"), 161);
        store.insert(stored);
        AddHostDialog add(false, SNMPInfo(), nullptr);
        AddHostDialog modify(true, stored, nullptr);
        Form f(add);
        f.host->setText(QStringLiteral("10.0.0"));
        f.sure->click();
        QCoreApplication::removeTranslator(&zh);

        QCOMPARE(add.windowTitle(), QStringLiteral("\u6dfb\u52a0"));
        QCOMPARE(modify.windowTitle(), QStringLiteral("\u4fee\u6539"));
        QCOMPARE(f.sure->text(), QStringLiteral("\u786e\u5b9a"));
        QCOMPARE(add.findChild<QPushButton *>(QStringLiteral("queryButton"))->text(), QStringLiteral("\u67e5\u8be2"));
        QCOMPARE(prompts.texts(), QStringList {QStringLiteral("\u4e3b\u673a\u683c\u5f0f\u9519\u8bef\uff01")});
        QCOMPARE(prompts.requests.first().title, QStringLiteral("\u8b66\u544a"));
    }

private:
    HostStore store;
    PromptRecorder prompts;
};

QTEST_MAIN(TestAddHostDialog)
#include "tst_addhostdialog.moc"
