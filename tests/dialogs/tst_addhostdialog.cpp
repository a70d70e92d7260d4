#include "support/facekit.h"

#include "support/cardcases.h"
#include "ui/addhostdialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTranslator>
#include <QValidator>
#include <QtTest>

using namespace FaceKit;

namespace {
struct Form
{
    Form(AddHostDialog &d, ProtectionBackend &backend)
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
        // What the window learns of a stored change.
        QObject::connect(&backend, &ProtectionBackend::hostsChanged, &d, [this](const QStringList &h) { lists << h; });
    }
    // Sure, and the backend's answer.
    void submit()
    {
        sure->click();
        QTRY_VERIFY_WITH_TIMEOUT(sure->isEnabled() || dialog.result() == QDialog::Accepted, 5000);
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
    int emitted() const { return int(lists.size()); }

    AddHostDialog &dialog;
    QRadioButton *v1v2, *v3;
    QLineEdit *user, *password;
    QComboBox *auth, *priv;
    QLineEdit *host, *port, *community;
    QPushButton *sure, *cancel;
    QList<QStringList> lists;
};

// The backend refused and the dialog said why: the reason names what is wrong (case aside).
bool refusedFor(const QStringList &texts, const QString &word)
{
    if (texts.size() != 1) {
        qWarning() << "prompts:" << texts;
        return false;
    }
    const QString &text = texts.first();
    const bool ok
        = text.startsWith(QLatin1String("The change was refused: ")) && text.contains(word, Qt::CaseInsensitive);
    if (!ok)
        qWarning() << "refusal:" << text << "expected to name" << word;
    return ok;
}
} // namespace

class TestAddHostDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(store.app.isValid()); }
    void init()
    {
        holder.reset();
        store.reset();
        prompts.requests.clear();
        prompts.answers.clear();
    }
    void cleanup() { holder.reset(); }

    void addModeDefaults()
    {
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
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
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
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

    // Free text: whatever is typed stays in the field, and Sure says what is wrong with it.
    void typingKeepsEveryCharacter_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("host complete") << "host"
                                       << "10.0.0.5";
        QTest::newRow("host while typing") << "host"
                                           << "192.168.";
        QTest::newRow("host octet 256") << "host"
                                        << "192.168.1.256";
        QTest::newRow("host leading zero") << "host"
                                           << "192.168.01.1";
        QTest::newRow("host letters") << "host"
                                      << "ups.local";
        QTest::newRow("host five octets") << "host"
                                          << "1.2.3.4.5";
        QTest::newRow("port 0") << "port"
                                << "0";
        QTest::newRow("port 65535") << "port"
                                    << "65535";
        QTest::newRow("port negative") << "port"
                                       << "-1";
    }
    void typingKeepsEveryCharacter()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        QLineEdit *edit = field == QLatin1String("host") ? f.host : f.port;
        QVERIFY(!edit->validator());
        edit->clear();
        QTest::keyClicks(edit, text);
        QCOMPARE(edit->text(), text);
    }

    // Texts are checked by the backend on Sure; its reason names the address.
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
        QTest::newRow("a name") << "ups.local" << false;
        QTest::newRow("all zero") << "0.0.0.0" << true;
        QTest::newRow("broadcast") << "255.255.255.255" << true;
        QTest::newRow("ordinary") << "10.20.30.199" << true;
    }
    void sureChecksHostFormat()
    {
        QFETCH(QString, host);
        QFETCH(bool, valid);
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        f.host->setText(host);
        f.submit();
        if (valid) {
            QVERIFY(prompts.requests.isEmpty());
            QCOMPARE(f.lists, (QList<QStringList> {{host}}));
            QVERIFY(f.accepted());
            QCOMPARE(store.rows().size(), 1);
        } else {
            QVERIFY(refusedFor(prompts.texts(), host.isEmpty() ? QStringLiteral("address") : host.trimmed()));
            QCOMPARE(prompts.requests.first().kind, UserPrompt::Kind::Warning);
            QCOMPARE(prompts.requests.first().title, QStringLiteral("Warning"));
            QCOMPARE(prompts.requests.first().buttons, QStringList {QStringLiteral("Sure")});
            QCOMPARE(prompts.requests.first().parent, &dialog);
            // What was entered stays, to be put right.
            QCOMPARE(f.host->text(), host);
            QVERIFY(f.sure->isEnabled());
            QVERIFY(f.lists.isEmpty());
            QVERIFY(!f.accepted());
            QVERIFY(store.rows().isEmpty());
        }
    }

    void communityHostChecks_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("community");
        QTest::addColumn<QString>("message");
        // Both faces take ports 1 to 65535 only.
        QTest::newRow("port 0") << "0"
                                << "public"
                                << "port";
        QTest::newRow("empty port") << ""
                                    << "public"
                                    << "port";
        QTest::newRow("port 65535") << "65535"
                                    << "public"
                                    << "";
        // Typing lets a five-digit number through; none above 65535 is a port.
        QTest::newRow("port 65536") << "65536"
                                    << "public"
                                    << "port";
        QTest::newRow("port 99999") << "99999"
                                    << "public"
                                    << "port";
        QTest::newRow("port with letters") << "16x1"
                                           << "public"
                                           << "port";
        QTest::newRow("empty community") << "161"
                                         << ""
                                         << "community";
    }
    void communityHostChecks()
    {
        QFETCH(QString, port);
        QFETCH(QString, community);
        QFETCH(QString, message);
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        f.host->setText(QStringLiteral("10.0.0.5"));
        f.port->setText(port);
        f.community->setText(community);
        f.submit();
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
            QCOMPARE(f.lists, (QList<QStringList> {{QStringLiteral("10.0.0.5")}}));
            QVERIFY(sameInfo(storedCard(backend(), QStringLiteral("10.0.0.5")).info,
                card(QStringLiteral("10.0.0.5"), port.toInt(), community)));
        } else {
            QVERIFY(refusedFor(prompts.texts(), message));
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
                                    << "user name";
        QTest::newRow("user of 7") << "abcdefg"
                                   << ""
                                   << "user name";
        QTest::newRow("user of 8, no password") << "abcdefgh"
                                                << ""
                                                << "";
        QTest::newRow("user of 8, password of 7") << "abcdefgh"
                                                  << "1234567"
                                                  << "password";
        QTest::newRow("user of 8, password of 8") << "abcdefgh"
                                                  << "12345678"
                                                  << "";
        QTest::newRow("user of 7 checked before password") << "abcdefg"
                                                           << "1"
                                                           << "user name";
        QTest::newRow("user of 32") << QStringLiteral("u").repeated(32) << ""
                                    << "";
        QTest::newRow("user of 33") << QStringLiteral("u").repeated(33) << ""
                                    << "user name";
        // Lengths count characters, not bytes of UTF-8.
        QTest::newRow("user of 8 CJK characters")
            << QStringLiteral("\u7528\u6237\u7528\u6237\u7528\u6237\u7528\u6237") << ""
            << "";
        QTest::newRow("user of 4 CJK characters") << QStringLiteral("\u7528\u6237\u7528\u6237") << ""
                                                  << "user name";
    }
    void usmHostChecks()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        f.host->setText(QStringLiteral("10.0.0.7"));
        f.v3->click();
        f.user->setText(user);
        f.password->setText(password);
        f.auth->setCurrentIndex(1);
        f.priv->setCurrentIndex(0);
        f.submit();
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
            QCOMPARE(f.lists.size(), 1);
            // The community typed before switching is not part of a v3 record.
            QVERIFY(sameInfo(storedCard(backend(), QStringLiteral("10.0.0.7")).info,
                usmCard(QStringLiteral("10.0.0.7"), 161, user, password, 1, 0)));
            QVERIFY(f.accepted());
        } else {
            QVERIFY(refusedFor(prompts.texts(), message));
            QVERIFY(store.rows().isEmpty());
            QCOMPARE(f.emitted(), 0);
        }
    }

    // A network UPS server: the UPS name in the community's field, the login optional but whole.
    void networkUpsHostChecks_data()
    {
        QTest::addColumn<QString>("ups");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("UPS name, no login") << "ups1"
                                            << ""
                                            << ""
                                            << "";
        QTest::newRow("name of every allowed kind, with login") << "Ups-1_a.b"
                                                                << "mon"
                                                                << "se cret\""
                                                                << "";
        QTest::newRow("empty name") << ""
                                    << ""
                                    << ""
                                    << "UPS name";
        QTest::newRow("name with a blank") << "my ups"
                                           << ""
                                           << ""
                                           << "UPS name";
        QTest::newRow("name with a letter beyond ASCII") << QStringLiteral("\u00fcps") << ""
                                                         << ""
                                                         << "UPS name";
        QTest::newRow("name of 65") << QStringLiteral("u").repeated(65) << ""
                                    << ""
                                    << "UPS name";
        QTest::newRow("user without password") << "ups1"
                                               << "mon"
                                               << ""
                                               << "neither";
        QTest::newRow("password without user") << "ups1"
                                               << ""
                                               << "pw"
                                               << "neither";
        QTest::newRow("user with a blank") << "ups1"
                                           << "m on"
                                           << "pw"
                                           << "user";
    }
    void networkUpsHostChecks()
    {
        QFETCH(QString, ups);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        auto *server = dialog.findChild<QRadioButton *>(QStringLiteral("nutRadio"));
        QVERIFY(server);
        f.host->setText(QStringLiteral("10.0.0.9"));
        server->click();
        // The protocol's own port, and only the fields the kind has.
        QCOMPARE(f.port->text(), QStringLiteral("3493"));
        QVERIFY(f.community->isEnabled() && f.user->isEnabled() && f.password->isEnabled());
        QVERIFY(!f.auth->isEnabled() && !f.priv->isEnabled());
        f.community->setText(ups);
        f.user->setText(user);
        f.password->setText(password);
        f.submit();
        if (!message.isEmpty()) {
            QVERIFY(refusedFor(prompts.texts(), message));
            QVERIFY(store.rows().isEmpty());
            QCOMPARE(f.emitted(), 0);
            return;
        }
        QVERIFY(prompts.requests.isEmpty());
        const QList<QVariantMap> rows = store.rows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].value(QStringLiteral("version")).toInt(), int(Snmp::NetworkUps));
        QCOMPARE(rows[0].value(QStringLiteral("port")).toInt(), 3493);
        QCOMPARE(rows[0].value(QStringLiteral("community")).toString(), ups);
        QCOMPARE(rows[0].value(QStringLiteral("userName")).toString(), user);
        QCOMPARE(rows[0].value(QStringLiteral("password")).toString(), password);
        QVERIFY(rows[0].value(QStringLiteral("authType")).isNull());
        QVERIFY(f.accepted());
        // Read back as stored, and shown so when changed.
        const StoredCard stored = storedCard(backend(), QStringLiteral("10.0.0.9"));
        QCOMPARE(stored.info.version, int(Snmp::NetworkUps));
        QCOMPARE(stored.info.community, ups);
        QCOMPARE(stored.info.userName, user);
        AddHostDialog modify(&backend(), stored);
        QVERIFY(modify.findChild<QRadioButton *>(QStringLiteral("nutRadio"))->isChecked());
        QCOMPARE(modify.enteredInfo().community, ups);
        QCOMPARE(modify.enteredInfo().port, 3493);
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
        store.insert(card(QStringLiteral("10.0.0.5"), 161));
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        f.host->setText(QStringLiteral("10.0.0.5"));
        f.port->setText(QStringLiteral("1161"));
        if (v3) {
            f.v3->click();
            f.user->setText(QStringLiteral("abcdefgh"));
        }
        f.submit();
        QVERIFY(refusedFor(prompts.texts(), QStringLiteral("10.0.0.5")));
        QCOMPARE(store.rows().size(), 1);
        QCOMPARE(f.emitted(), 0);
        QVERIFY(!f.accepted());
    }

    void modifyLoadsByPosition()
    {
        store.insert(card(QStringLiteral("10.0.0.1"), 161, QStringLiteral("first")));
        const SNMPInfo v3 = usmCard(
            QStringLiteral("10.0.0.2"), 1161, QStringLiteral("operator1"), QStringLiteral("secretsecret"), 1, 1);
        store.insert(v3);
        AddHostDialog dialog(&backend(), storedCard(backend(), v3.ip));
        Form f(dialog, backend());
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
        const SNMPInfo old = usmCard(
            QStringLiteral("10.0.0.2"), 161, QStringLiteral("operator1"), QStringLiteral("secretsecret"), 1, 1);
        store.insert(card(QStringLiteral("10.0.0.1"), 161, QStringLiteral("other")));
        store.insert(old);
        AddHostDialog dialog(&backend(), storedCard(backend(), old.ip));
        Form f(dialog, backend());
        f.v1v2->click();
        f.community->setText(QStringLiteral("private"));
        f.port->setText(QStringLiteral("162"));
        f.submit();
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
        QVERIFY(sameInfo(storedCard(backend(), QStringLiteral("10.0.0.2")).info,
            card(QStringLiteral("10.0.0.2"), 162, QStringLiteral("private"))));
    }

    void modifyCommunityToUsm()
    {
        const SNMPInfo old = card(QStringLiteral("10.0.0.3"), 161, QStringLiteral("keepme"));
        store.insert(old);
        AddHostDialog dialog(&backend(), storedCard(backend(), old.ip));
        Form f(dialog, backend());
        QVERIFY(f.v1v2->isChecked());
        QCOMPARE(f.community->text(), QStringLiteral("keepme"));
        QVERIFY(f.v3FieldsDisabled());
        f.v3->click();
        f.user->setText(QStringLiteral("abcdefgh"));
        f.submit();
        const QList<QVariantMap> rows = store.rows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].value(QStringLiteral("version")).toInt(), 1);
        QCOMPARE(rows[0].value(QStringLiteral("community")).toString(), QStringLiteral("keepme"));
        QCOMPARE(rows[0].value(QStringLiteral("userName")).toString(), QStringLiteral("abcdefgh"));
        QVERIFY(f.accepted());
    }

    void storedUnknownVersion()
    {
        SNMPInfo odd = card(QStringLiteral("10.0.0.9"), 161, QString());
        odd.version = 3; // 2 is a network UPS server
        store.insert(odd);
        AddHostDialog dialog(&backend(), storedCard(backend(), odd.ip));
        Form f(dialog, backend());
        QVERIFY(!f.v1v2->isChecked());
        QVERIFY(!f.v3->isChecked());
        QVERIFY(f.community->isEnabled());
        QVERIFY(f.v3FieldsEnabled());
        QVERIFY(f.community->text().isEmpty());
        QVERIFY(f.user->text().isEmpty());
        f.submit();
        QVERIFY(refusedFor(prompts.texts(), QStringLiteral("version")));
        QCOMPARE(f.emitted(), 0);
        QVERIFY(!f.accepted());

        f.v1v2->click();
        f.community->setText(QStringLiteral("public"));
        f.submit();
        QCOMPARE(prompts.requests.size(), 1);
        QCOMPARE(store.rows().first().value(QStringLiteral("version")).toInt(), 0);
        QVERIFY(f.accepted());
    }

    void failingStatementIsShown_data()
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
    // The store's refusal is shown, nothing is stored, the dialog stays open.
    void failingStatementIsShown()
    {
        QFETCH(bool, modify);
        QFETCH(bool, v3);
        QFETCH(bool, dropTable);
        const SNMPInfo old = card(QStringLiteral("10.0.0.4"), 161);
        if (modify)
            store.insert(old);
        std::unique_ptr<AddHostDialog> made = modify
            ? std::make_unique<AddHostDialog>(&backend(), storedCard(backend(), old.ip))
            : std::make_unique<AddHostDialog>(&backend());
        AddHostDialog &dialog = *made;
        Form f(dialog, backend());
        f.host->setText(QStringLiteral("10.0.0.44"));
        if (v3) {
            f.v3->click();
            f.user->setText(QStringLiteral("abcdefgh"));
        }
        if (dropTable)
            QVERIFY(store.exec(QStringLiteral("drop table snmp_session")));
        else
            store.setReadOnly(true);
        f.submit();
        store.setReadOnly(false);
        QCOMPARE(prompts.requests.size(), 1);
        QVERIFY2(prompts.texts().first().startsWith(QStringLiteral("The change was refused: ")),
            qPrintable(prompts.texts().first()));
        QCOMPARE(f.emitted(), 0);
        QVERIFY(!f.accepted());
        // What was typed is still there, to be sent again.
        QCOMPARE(f.host->text(), QStringLiteral("10.0.0.44"));
        if (v3)
            QCOMPARE(f.user->text(), QStringLiteral("abcdefgh"));
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
        const SNMPInfo a = card(QStringLiteral("10.0.0.1"), 161, QStringLiteral("a"));
        store.insert(a);
        store.insert(card(QStringLiteral("10.0.0.2"), 161, QStringLiteral("b")));
        AddHostDialog dialog(&backend(), storedCard(backend(), a.ip));
        Form f(dialog, backend());
        f.host->setText(newIp);
        f.port->setText(newPort);
        if (v3) {
            f.v3->click();
            f.user->setText(QStringLiteral("abcdefgh"));
        }
        f.submit();
        const QList<QVariantMap> rows = store.rows();
        if (refused) {
            QVERIFY(refusedFor(prompts.texts(), newIp));
            QCOMPARE(f.emitted(), 0);
            QCOMPARE(rows[0].value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.1"));
            QCOMPARE(rows[0].value(QStringLiteral("port")).toInt(), 161);
        } else {
            QVERIFY(prompts.requests.isEmpty());
            QVERIFY(f.accepted());
            QCOMPARE(rows[0].value(QStringLiteral("ip")).toString(), newIp);
            QCOMPARE(rows[0].value(QStringLiteral("port")).toInt(), newPort.toInt());
        }
        QCOMPARE(rows[1].value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.2"));
    }

    // The records every face must answer alike, entered as a person would; the backend's answer is the dialog's.
    void cardCases_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < CardCases::all().size(); ++i)
            QTest::newRow(CardCases::all().at(i).name) << i;
    }
    void cardCases()
    {
        QFETCH(int, index);
        const CardCases::Case &c = CardCases::all().at(index);
        const SNMPInfo &in = c.entered;
        // Two buttons and two entries a list: no way to enter another version or protocol here.
        if ((in.version != Snmp::CommunityBased && in.version != Snmp::Usm) || in.authType < 0 || in.authType > 1
            || in.privType > 1)
            QSKIP("not a record the dialog can enter");
        store.insert(CardCases::storedCommunityCard());
        store.insert(CardCases::storedUsmCard());
        const QList<QVariantMap> before = store.rows();
        std::unique_ptr<AddHostDialog> made = c.oldIp.isEmpty()
            ? std::make_unique<AddHostDialog>(&backend())
            : std::make_unique<AddHostDialog>(&backend(), storedCard(backend(), c.oldIp));
        Form f(*made, backend());
        f.host->setText(in.ip);
        f.port->setText(QString::number(in.port));
        (in.version == Snmp::Usm ? f.v3 : f.v1v2)->click();
        if (in.version == Snmp::Usm) {
            f.user->setText(in.userName);
            f.password->setText(in.password);
            f.auth->setCurrentIndex(in.authType);
            f.priv->setCurrentIndex(in.privType);
        } else {
            f.community->setText(in.community);
        }
        f.submit();
        if (!c.refusal.isEmpty()) {
            QVERIFY(refusedFor(prompts.texts(), c.refusal));
            QVERIFY(!f.accepted());
            QCOMPARE(store.rows(), before);
            return;
        }
        QVERIFY2(prompts.requests.isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('\n'))));
        QVERIFY(f.accepted());
        QVERIFY(sameInfo(storedCard(backend(), in.ip).info, CardCases::expectedStored(c)));
        QCOMPARE(store.rows().size(), c.oldIp.isEmpty() ? 3 : 2);
    }

    // The address is typed first: the dialog opens with the focus there, whichever version the card has.
    void opensWithTheFocusOnTheAddress_data()
    {
        QTest::addColumn<QString>("mode"); // "add", or "modify" a card of the version named
        QTest::newRow("add") << "add";
        QTest::newRow("modify v1/v2") << "v1/v2";
        QTest::newRow("modify v3") << "v3";
    }
    void opensWithTheFocusOnTheAddress()
    {
        QFETCH(QString, mode);
        SNMPInfo stored = card(QStringLiteral("10.0.0.6"), 161);
        if (mode == QLatin1String("v3")) {
            stored.version = Snmp::Usm;
            stored.userName = QStringLiteral("operator1");
        }
        store.insert(stored);
        std::unique_ptr<AddHostDialog> made = mode == QLatin1String("add")
            ? std::make_unique<AddHostDialog>(&backend())
            : std::make_unique<AddHostDialog>(&backend(), storedCard(backend(), stored.ip));
        Form f(*made, backend());
        made->show();
        QVERIFY(QTest::qWaitForWindowActive(made.get()));
        QCOMPARE(QApplication::focusWidget(), f.host);
        // A label's Alt key leads to its field; Escape leaves as before, storing nothing.
        QTest::keyClick(made.get(), Qt::Key_O, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), f.port);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(made->result(), int(QDialog::Rejected));
        QVERIFY(!made->isVisible());
        QCOMPARE(store.rows().size(), 1);
    }

    void cancelWritesNothing()
    {
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        f.host->setText(QStringLiteral("10.0.0.5"));
        QTimer::singleShot(0, f.cancel, &QPushButton::click);
        dialog.exec();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(f.emitted(), 0);
        QVERIFY(store.rows().isEmpty());
    }

    void sureEndsExec()
    {
        AddHostDialog dialog(&backend());
        Form f(dialog, backend());
        f.host->setText(QStringLiteral("10.0.0.5"));
        QTimer::singleShot(0, f.sure, &QPushButton::click);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(f.lists, (QList<QStringList> {{QStringLiteral("10.0.0.5")}}));
    }

    // The form's texts come from the window's context, the title "Modify" and the messages from the dialog's.
    void chineseTexts()
    {
        QTranslator zh;
        QVERIFY(zh.load(store.app.path(QStringLiteral("translate/zh.qm"))));
        QCoreApplication::installTranslator(&zh);
        const SNMPInfo stored = card(QStringLiteral("10.0.0.1"), 161);
        store.insert(stored);
        AddHostDialog add(&backend());
        AddHostDialog modify(&backend(), storedCard(backend(), stored.ip));
        Form f(add, backend());
        f.host->setText(QStringLiteral("10.0.0"));
        f.submit();
        const QString refused = QCoreApplication::translate("MainWindow", "The change was refused: %1");
        QCoreApplication::removeTranslator(&zh);

        QCOMPARE(add.windowTitle(), QStringLiteral("\u6dfb\u52a0"));
        QCOMPARE(modify.windowTitle(), QStringLiteral("\u4fee\u6539"));
        QCOMPARE(f.sure->text(), QStringLiteral("\u786e\u5b9a(&S)"));
        QCOMPARE(
            add.findChild<QPushButton *>(QStringLiteral("queryButton"))->text(), QStringLiteral("\u67e5\u8be2(&Q)"));
        // The backend's reason in Chinese too, naming what was typed.
        QVERIFY(refused != QLatin1String("The change was refused: %1"));
        QCOMPARE(prompts.texts().size(), 1);
        const QString text = prompts.texts().first();
        QVERIFY2(text.startsWith(refused.section(QStringLiteral("%1"), 0, 0)) && text.contains(QStringLiteral("10.0.0"))
                && !text.contains(QStringLiteral("IPv4 address")),
            qPrintable(text));
        QCOMPARE(prompts.requests.first().title, QStringLiteral("\u8b66\u544a"));
    }

private:
    // The backend of a test, made at its first use: after the test has stored what the backend starts with.
    ProtectionBackend &backend()
    {
        if (!holder)
            holder = std::make_unique<BackendHolder>(nullptr);
        return *holder->backend();
    }

    HostStore store;
    PromptRecorder prompts;
    std::unique_ptr<BackendHolder> holder;
};

QTEST_MAIN(TestAddHostDialog)
#include "tst_addhostdialog.moc"
