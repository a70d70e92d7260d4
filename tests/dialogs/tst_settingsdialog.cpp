#include "support/facekit.h"

#include "policy/protection.h"
#include "policy/systemshutdown.h"
#include "storage/apppaths.h"
#include "storage/settings.h"
#include "support/settingrows.h"
#include "ui/addhostdialog.h"
#include "ui/logdialog.h"
#include "ui/settingsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

using Snapshot = QMap<QString, QString>;
using namespace FaceKit;

namespace {
Snapshot settingsSnapshot()
{
    QSettings settings(AppPaths::settingsFilePath(), QSettings::IniFormat);
    Snapshot out;
    for (const QString &key : settings.allKeys())
        out.insert(key, settings.value(key).toString());
    return out;
}

void presetSettings(const Snapshot &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        writeSetting(AppPaths::settingsFilePath(), it.key(), it.value());
}

const Snapshot seeded {{QStringLiteral("system/pop_warning"), QStringLiteral("true")},
    {QStringLiteral("system/desktop_notify"), QStringLiteral("true")},
    {QStringLiteral("system/shutdown_app_enable"), QStringLiteral("false")},
    {QStringLiteral("system/shutdown_exec_time"), QStringLiteral("15")},
    {QStringLiteral("shutdown/ac_failed_time"), QStringLiteral("5")},
    {QStringLiteral("shutdown/batt_low_time"), QStringLiteral("5")},
    {QStringLiteral("shutdown/ac_failed_capacity"), QStringLiteral("20")}};

struct Form
{
    Form(SettingsDialog &d, ProtectionBackend &backend)
        : dialog(d),
          table(d.findChild<QTableWidget *>(QStringLiteral("hostTable"))),
          add(d.findChild<QPushButton *>(QStringLiteral("addButton"))),
          modify(d.findChild<QPushButton *>(QStringLiteral("modifyButton"))),
          remove(d.findChild<QPushButton *>(QStringLiteral("removeButton"))),
          popup(d.findChild<QCheckBox *>(QStringLiteral("popupCheck"))),
          desktop(d.findChild<QCheckBox *>(QStringLiteral("desktopNotifyCheck"))),
          app(d.findChild<QCheckBox *>(QStringLiteral("appCheck"))),
          path(d.findChild<QLineEdit *>(QStringLiteral("appPathEdit"))),
          browse(d.findChild<QPushButton *>(QStringLiteral("browseButton"))),
          execTime(d.findChild<QLineEdit *>(QStringLiteral("execTimeEdit"))),
          acTime(d.findChild<QLineEdit *>(QStringLiteral("acFailedTimeEdit"))),
          battTime(d.findChild<QLineEdit *>(QStringLiteral("battLowTimeEdit"))),
          capacity(d.findChild<QLineEdit *>(QStringLiteral("acFailedCapacityEdit"))),
          sure(d.findChild<QPushButton *>(QStringLiteral("sureButton"))),
          cancel(d.findChild<QPushButton *>(QStringLiteral("cancelButton")))
    {
        // What the window learns: the backend's word of a changed list or pop-up setting.
        QObject::connect(&backend, &ProtectionBackend::hostsChanged, &d, [this](const QStringList &h) { lists << h; });
        QObject::connect(
            &backend, &ProtectionBackend::settingChanged, &d, [this](const QString &key, const QVariant &value) {
                if (key == QLatin1String("system/pop_warning"))
                    popups << value.toBool();
            });
        // The fields come with the backend's answer.
        QTRY_VERIFY_WITH_TIMEOUT(sure->isEnabled(), 5000);
    }
    bool complete() const
    {
        return table && add && modify && remove && popup && desktop && app && path && browse && execTime && acTime
            && battTime && capacity && sure && cancel;
    }
    // A real mouse click on a cell of column 0.
    void click(int row)
    {
        const QRect rect = table->visualItemRect(table->item(row, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }
    QStringList column(int c) const
    {
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r)
            out << table->item(r, c)->text();
        return out;
    }
    bool accepted() const { return dialog.result() == QDialog::Accepted; }
    QTabWidget *tabs() const { return dialog.findChild<QTabWidget *>(QStringLiteral("tabs")); }
    // Sure, and the backend's answer to what it sent.
    void submit()
    {
        sure->click();
        QTRY_VERIFY_WITH_TIMEOUT(sure->isEnabled() || accepted(), 5000);
    }

    SettingsDialog &dialog;
    QTableWidget *table;
    QPushButton *add, *modify, *remove;
    QCheckBox *popup, *desktop, *app;
    QLineEdit *path;
    QPushButton *browse;
    QLineEdit *execTime, *acTime, *battTime, *capacity;
    QPushButton *sure, *cancel;
    QList<QStringList> lists;
    QList<bool> popups;
};

QStringList words(const char *joined)
{
    return QString::fromUtf8(joined).split(QLatin1Char('|'));
}

int validatorTop(QLineEdit *edit)
{
    auto *v = qobject_cast<const QIntValidator *>(edit->validator());
    return v && v->bottom() == 1 ? v->top() : -1;
}

// Runs `call` and reports whether it opened a modal window; one that did appear is closed again.
bool opensModal(const std::function<void()> &call)
{
    bool opened = false;
    QTimer rescue;
    rescue.setInterval(20);
    QObject::connect(&rescue, &QTimer::timeout, &rescue, [&] {
        if (auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            opened = true;
            modal->reject();
        }
    });
    rescue.start();
    call();
    rescue.stop();
    return opened;
}
} // namespace

class TestSettingsDialog : public QObject
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

    void freshInstallationShowsDefaultsAndWritesNothing()
    {
        QVERIFY(!QFile::exists(AppPaths::settingsFilePath()));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        QVERIFY(f.complete());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dialog.size(), QSize(405, 540));
        QVERIFY(closeButtonOnly(dialog));
        QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
        QVERIFY(f.popup->isChecked());
        QVERIFY(!f.app->isChecked());
        QVERIFY(!f.path->isEnabled() && !f.browse->isEnabled() && !f.execTime->isEnabled());
        QCOMPARE(f.path->text(), QString());
        QCOMPARE(f.execTime->text(), QStringLiteral("15"));
        QCOMPARE(f.acTime->text(), QStringLiteral("5"));
        QCOMPARE(f.battTime->text(), QStringLiteral("5"));
        QCOMPARE(f.capacity->text(), QStringLiteral("20"));
        QCOMPARE(validatorTop(f.execTime), 90);
        QCOMPARE(validatorTop(f.acTime), 9999);
        QCOMPARE(validatorTop(f.battTime), 9999);
        QCOMPARE(validatorTop(f.capacity), 100);
        QCOMPARE(f.acTime->placeholderText(), QStringLiteral("1~9999"));
        QCOMPARE(f.battTime->placeholderText(), QStringLiteral("1~9999"));
        QCOMPARE(f.capacity->placeholderText(), QStringLiteral("1~100"));

        auto *tabs = dialog.findChild<QTabWidget *>();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("&General"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Shutdown Con&dition"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("Network UPS ser&ver"));
        QCOMPARE(f.table->columnCount(), 3);
        QCOMPARE(f.table->horizontalHeaderItem(0)->text(), QStringLiteral("Host address"));
        QCOMPARE(f.table->horizontalHeaderItem(1)->text(), QStringLiteral("SNMP port"));
        QCOMPARE(f.table->horizontalHeaderItem(2)->text(), QStringLiteral("SNMP version"));
        QCOMPARE(f.table->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(f.table->horizontalHeader()->stretchLastSection());
        QStringList groups;
        for (QGroupBox *g : dialog.findChildren<QGroupBox *>())
            groups << g->title();
        groups.sort();
        QCOMPARE(
            groups, (QStringList {QString(), QStringLiteral("Host c&onnection"),
                        QStringLiteral("Users (Delete removes the selected one)"), QStringLiteral("Warning messages")}));

        QTimer::singleShot(0, f.cancel, &QPushButton::click);
        dialog.exec();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        // The defaults are shown, not written: opening asks nobody for anything.
        QVERIFY(!QFile::exists(AppPaths::settingsFilePath()));
        QVERIFY(f.popups.isEmpty());
    }

    void storedValuesAreShownAndNotRewritten()
    {
        const Snapshot stored {{QStringLiteral("system/pop_warning"), QStringLiteral("false")},
            {QStringLiteral("system/shutdown_app_enable"), QStringLiteral("true")},
            {QStringLiteral("system/shutdown_app"), QStringLiteral("/opt/ups/before-off")},
            {QStringLiteral("system/shutdown_exec_time"), QStringLiteral("120")},
            {QStringLiteral("shutdown/ac_failed_time"), QStringLiteral("7")},
            {QStringLiteral("shutdown/batt_low_time"), QStringLiteral("8")},
            {QStringLiteral("shutdown/ac_failed_capacity"), QStringLiteral("30")}};
        presetSettings(stored);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        QVERIFY(!f.popup->isChecked());
        QVERIFY(f.app->isChecked());
        QVERIFY(f.path->isEnabled() && f.browse->isEnabled() && f.execTime->isEnabled());
        QCOMPARE(f.path->text(), QStringLiteral("/opt/ups/before-off"));
        QCOMPARE(f.execTime->text(), QStringLiteral("120")); // shown as stored, although out of range
        QCOMPARE(f.acTime->text(), QStringLiteral("7"));
        QCOMPARE(f.battTime->text(), QStringLiteral("8"));
        QCOMPARE(f.capacity->text(), QStringLiteral("30"));
        QCOMPARE(settingsSnapshot(), stored);
    }

    void hostTableRows()
    {
        store.insert(card(QStringLiteral("10.0.0.1"), 161));
        store.insert(usmCard(QStringLiteral("10.0.0.2"), 1161, QStringLiteral("abcdefgh"), QString()));
        SNMPInfo odd = card(QStringLiteral("10.0.0.3"), 162);
        odd.version = 3; // 2 is a network UPS server
        store.insert(odd);
        SNMPInfo server = card(QStringLiteral("10.0.0.4"), 3493, QStringLiteral("ups1"));
        server.version = Snmp::NetworkUps;
        store.insert(server);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        QCOMPARE(f.column(0), words("10.0.0.1|10.0.0.2|10.0.0.3|10.0.0.4"));
        QCOMPARE(f.column(1), words("161|1161|162|3493"));
        QCOMPARE(f.column(2), words("SNMP v1/v2|SNMP v3|Unknown|Network UPS server"));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c)
                QCOMPARE(f.table->item(r, c)->textAlignment(), int(Qt::AlignCenter));
    }

    void modifyAndRemoveActOnTheSelectedRow_data()
    {
        QTest::addColumn<QString>("select"); // "none", "keys" (Home, Down), "mouse"
        QTest::addColumn<QString>("act"); // "buttons", "keys" (Enter, Delete), "double click" (and Delete)
        QTest::newRow("nothing selected: nothing happens") << "none"
                                                           << "buttons";
        QTest::newRow("row chosen with the keyboard") << "keys"
                                                      << "buttons";
        QTest::newRow("row clicked") << "mouse"
                                     << "buttons";
        QTest::newRow("Enter modifies, Delete removes") << "keys"
                                                        << "keys";
        QTest::newRow("nothing selected: Enter is Sure, Delete nothing") << "none"
                                                                         << "keys";
        QTest::newRow("double click modifies") << "mouse"
                                               << "double click";
    }
    void modifyAndRemoveActOnTheSelectedRow()
    {
        QFETCH(QString, select);
        QFETCH(QString, act);
        store.insert(card(QStringLiteral("10.0.0.1"), 161));
        store.insert(card(QStringLiteral("10.0.0.2"), 161));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(f.table->selectionBehavior(), QAbstractItemView::SelectRows);
        if (select == QLatin1String("keys")) {
            f.table->setFocus();
            QTest::keyClick(f.table, Qt::Key_Home, Qt::ControlModifier);
            QTest::keyClick(f.table, Qt::Key_Down);
        } else if (select == QLatin1String("mouse")) {
            f.click(1);
        }
        const bool selected = select != QLatin1String("none");
        QCOMPARE(opensModal([&] {
            if (act == QLatin1String("keys")) {
                f.table->setFocus();
                QTest::keyClick(f.table, Qt::Key_Return);
            } else if (act == QLatin1String("double click")) {
                const QRect rect = f.table->visualItemRect(f.table->item(1, 0));
                QTest::mouseDClick(f.table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
            } else {
                f.modify->click();
            }
        }),
            selected);
        // Enter with no card chosen is the dialog's Sure, as everywhere else in it.
        if (!selected && act == QLatin1String("keys"))
            QTRY_VERIFY(f.accepted());
        else
            QVERIFY(!f.accepted());
        prompts.answers << UserPrompt::Answer {0, QString(), QString()};
        if (act == QLatin1String("buttons")) {
            f.remove->click();
        } else {
            f.table->setFocus();
            QTest::keyClick(f.table, Qt::Key_Delete);
        }
        QCOMPARE(prompts.requests.size(), selected ? 1 : 0);
        QTRY_COMPARE(f.column(0), selected ? words("10.0.0.1") : words("10.0.0.1|10.0.0.2"));
        QCOMPARE(store.rows().size(), selected ? 1 : 2);
        QVERIFY(f.table->selectedItems().isEmpty());
    }

    // The host table is one stop of the tab chain: Tab and Shift+Tab leave it at once, Ctrl+Tab turns the page.
    void tabLeavesTheHostTable_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier);
        QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier);
        QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier);
    }
    void tabLeavesTheHostTable()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        for (int i = 1; i <= 3; ++i)
            store.insert(card(QStringLiteral("10.0.0.%1").arg(i), 161));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        f.table->setFocus();
        f.click(1);
        QCOMPARE(QApplication::focusWidget(), f.table);
        QTest::keyClick(f.table, static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers));
        QVERIFY2(QApplication::focusWidget() != f.table, "the key went on inside the table instead of leaving it");
        // Round the whole chain once: the table is met as one stop, not once per cell.
        int met = 0;
        for (int i = 0; i < 25; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            met += QApplication::focusWidget() == f.table ? 1 : 0;
        }
        QVERIFY2(met <= 25 / 4, qPrintable(QStringLiteral("the table took %1 of 25 Tabs").arg(met)));
        // Inside it the arrows move between the cards.
        f.table->setFocus();
        QTest::keyClick(f.table, Qt::Key_Down);
        QCOMPARE(f.table->currentRow(), 2);
    }

    // Every button, box and field label has its Alt key, no two alike, in English and in Chinese.
    void mnemonics_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }
    void mnemonics()
    {
        QFETCH(bool, chinese);
        QTranslator zh;
        if (chinese) {
            QVERIFY(zh.load(store.app.path(QStringLiteral("translate/zh.qm"))));
            QCoreApplication::installTranslator(&zh);
        }
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        AddHostDialog host(&backend());
        LogDialog log(&backend());
        QCoreApplication::removeTranslator(&zh);
        for (QDialog *d :
            {static_cast<QDialog *>(&dialog), static_cast<QDialog *>(&host), static_cast<QDialog *>(&log)}) {
            QStringList texts;
            // Only the dialog's own: a message box it keeps has its own keys.
            for (QAbstractButton *b : d->findChildren<QAbstractButton *>()) {
                if (b->window() == d)
                    texts << b->text();
            }
            for (QLabel *l : d->findChildren<QLabel *>()) {
                if (l->buddy() && l->window() == d)
                    texts << l->text();
            }
            if (auto *tabs = d->findChild<QTabWidget *>()) {
                for (int i = 0; i < tabs->count(); ++i)
                    texts << tabs->tabText(i);
            }
            QSet<int> keys;
            for (const QString &text : qAsConst(texts)) {
                if (text.isEmpty())
                    continue; // the tab bar's scroll arrows
                const QKeySequence key = QKeySequence::mnemonic(text);
                QVERIFY2(!key.isEmpty(), qPrintable(QStringLiteral("no Alt key: ") + text));
                QVERIFY2(!keys.contains(key[0]), qPrintable(QStringLiteral("Alt key taken twice: ") + text));
                keys << key[0];
                if (chinese)
                    QVERIFY2(QRegularExpression(QStringLiteral("\\(&[A-Z0-9]\\)(\u3001|\uff1a|\\.\\.\\.)?$"))
                                 .match(text)
                                 .hasMatch(),
                        qPrintable(QStringLiteral("not in the Chinese style: ") + text));
            }
        }
        // A field label's key moves the focus to its field.
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        f.tabs()->setCurrentIndex(1);
        QTest::keyClick(&dialog, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), f.battTime);
    }

    // A write the backend cannot make is shown with its reason, and the dialog stays with what was entered.
    void failedWriteKeepsTheDialog()
    {
        presetSettings(seeded);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        f.battTime->setText(QStringLiteral("7"));
        // A directory where the settings file was: nothing can be written there.
        const QString file = AppPaths::settingsFilePath();
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file));
        f.submit();
        QDir(file).removeRecursively();
        QVERIFY(!f.accepted());
        QCOMPARE(prompts.requests.size(), 1);
        QVERIFY2(prompts.texts().first().startsWith(QStringLiteral("The change was refused: ")),
            qPrintable(prompts.texts().first()));
        QVERIFY2(prompts.texts().first().size() > QStringLiteral("The change was refused: ").size(),
            "the refusal names no reason");
        QCOMPARE(f.battTime->text(), QStringLiteral("7"));
        QVERIFY(f.sure->isEnabled());
    }

    void removal_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("cancel") << 1 << false;
        QTest::newRow("box closed without a button") << -1 << false;
        QTest::newRow("sure") << 0 << false;
        QTest::newRow("sure, delete fails") << 0 << true;
    }
    void removal()
    {
        QFETCH(int, answer);
        QFETCH(bool, readOnly);
        store.insert(card(QStringLiteral("10.0.0.1"), 161));
        store.insert(card(QStringLiteral("10.0.0.2"), 1161));
        store.insert(card(QStringLiteral("10.0.0.3"), 161));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        f.click(1);
        store.setReadOnly(readOnly);
        prompts.answers << UserPrompt::Answer {answer, QString(), QString()};
        f.remove->click();
        QTRY_VERIFY(f.remove->isEnabled()); // the backend has answered
        store.setReadOnly(false);

        // The question, and the store's refusal when it refuses.
        QCOMPARE(prompts.requests.size(), readOnly && answer == 0 ? 2 : 1);
        const UserPrompt::Request &asked = prompts.requests.first();
        QCOMPARE(asked.kind, UserPrompt::Kind::Information);
        QCOMPARE(asked.title, QStringLiteral("Information"));
        QCOMPARE(asked.text, QStringLiteral("Are you sure to remove host 10.0.0.2"));
        QCOMPARE(asked.buttons, words("Sure|Cancel"));
        QCOMPARE(asked.parent, &dialog);

        if (answer != 0) {
            QCOMPARE(store.rows().size(), 3);
            QCOMPARE(f.column(0), words("10.0.0.1|10.0.0.2|10.0.0.3"));
            QVERIFY(f.lists.isEmpty());
            return;
        }
        if (readOnly) {
            // The store's refusal is shown, and the row stays: it is still stored.
            QVERIFY2(prompts.texts().last().startsWith(QStringLiteral("The change was refused: ")),
                qPrintable(prompts.texts().last()));
            QCOMPARE(store.rows().size(), 3);
            QCOMPARE(f.column(0), words("10.0.0.1|10.0.0.2|10.0.0.3"));
            QVERIFY(f.lists.isEmpty());
            return;
        }
        QTRY_COMPARE(f.column(0), words("10.0.0.1|10.0.0.3"));
        QCOMPARE(store.rows().size(), 2);
        QCOMPARE(f.lists, (QList<QStringList> {words("10.0.0.1|10.0.0.3")}));
        // The selection is gone: another Remove asks nothing until a row is clicked again.
        f.remove->click();
        QVERIFY(!opensModal([&] { f.modify->click(); }));
        QCOMPARE(prompts.requests.size(), 1);
        f.click(0);
        f.remove->click();
        QCOMPARE(prompts.requests.size(), 2);
        QTRY_COMPARE(f.lists.last(), words("10.0.0.3"));
    }

    void refusedSaveWritesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("execTime");
        QTest::addColumn<QString>("message");
        const QString program = QCoreApplication::applicationFilePath();
        const QString notExist = QStringLiteral("Shutdown application is not exist!");
        const QString badTime = QStringLiteral("Maximum execution time must be a number from 1 to 90.");
        QTest::newRow("empty path") << ""
                                    << "15" << notExist;
        QTest::newRow("missing file") << "/nonexistent/before-off"
                                      << "15" << notExist;
        QTest::newRow("directory") << QDir::tempPath() << "15" << notExist;
        QTest::newRow("path checked before time") << ""
                                                  << "120" << notExist;
        QTest::newRow("time 120 from the file") << program << "120" << badTime;
        QTest::newRow("time 91") << program << "91" << badTime;
        QTest::newRow("time 0") << program << "0" << badTime;
        QTest::newRow("time empty") << program << "" << badTime;
        QTest::newRow("time not a number") << program << "ten" << badTime;
    }
    void refusedSaveWritesNothing()
    {
        QFETCH(QString, path);
        QFETCH(QString, execTime);
        QFETCH(QString, message);
        presetSettings({{QStringLiteral("system/pop_warning"), QStringLiteral("false")},
            {QStringLiteral("system/shutdown_app_enable"), QStringLiteral("true")},
            {QStringLiteral("system/shutdown_app"), path}, {QStringLiteral("system/shutdown_exec_time"), execTime}});
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        const Snapshot before = settingsSnapshot();
        f.popup->setChecked(true);
        f.acTime->setText(QStringLiteral("77"));
        f.capacity->setText(QStringLiteral("50"));
        f.submit();
        QCOMPARE(prompts.texts(), QStringList {message});
        QCOMPARE(prompts.requests.first().kind, UserPrompt::Kind::Warning);
        QCOMPARE(prompts.requests.first().title, QStringLiteral("Warning"));
        QCOMPARE(prompts.requests.first().buttons, QStringList {QStringLiteral("Sure")});
        QCOMPARE(settingsSnapshot(), before);
        QVERIFY(f.popups.isEmpty());
        QVERIFY(!f.accepted());
    }

    void enabledApplicationSaved_data()
    {
        QTest::addColumn<QString>("execTime");
        QTest::newRow("1 minute") << "1";
        QTest::newRow("90 minutes") << "90";
        QTest::newRow("leading zero") << "07";
    }
    void enabledApplicationSaved()
    {
        QFETCH(QString, execTime);
        const QString program = QCoreApplication::applicationFilePath();
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        f.app->click();
        QVERIFY(f.path->isEnabled() && f.browse->isEnabled() && f.execTime->isEnabled());
        f.path->setText(program);
        f.execTime->setText(execTime);
        f.submit();
        QVERIFY(prompts.requests.isEmpty());
        QVERIFY(f.accepted());
        Snapshot expected = seeded;
        expected.insert(QStringLiteral("system/shutdown_app_enable"), QStringLiteral("true"));
        expected.insert(QStringLiteral("system/shutdown_app"), program);
        expected.insert(QStringLiteral("system/shutdown_exec_time"), QString::number(execTime.toInt()));
        QCOMPARE(settingsSnapshot(), expected);
    }

    void disabledApplicationWritesOnlyTheEnableKey()
    {
        presetSettings({{QStringLiteral("system/pop_warning"), QStringLiteral("true")},
            {QStringLiteral("system/shutdown_app_enable"), QStringLiteral("true")},
            {QStringLiteral("system/shutdown_app"), QStringLiteral("/opt/ups/stored")},
            {QStringLiteral("system/shutdown_exec_time"), QStringLiteral("30")}});
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        f.app->click();
        QVERIFY(!f.path->isEnabled() && !f.browse->isEnabled() && !f.execTime->isEnabled());
        f.path->setText(QStringLiteral("/somewhere/else"));
        f.execTime->setText(QStringLiteral("200"));
        f.submit();
        QVERIFY(prompts.requests.isEmpty());
        QVERIFY(f.accepted());
        Snapshot expected = seeded;
        expected.insert(QStringLiteral("system/shutdown_app_enable"), QStringLiteral("false"));
        expected.insert(QStringLiteral("system/shutdown_app"), QStringLiteral("/opt/ups/stored"));
        expected.insert(QStringLiteral("system/shutdown_exec_time"), QStringLiteral("30"));
        QCOMPARE(settingsSnapshot(), expected);
    }

    void shutdownConditionSaved_data()
    {
        QTest::addColumn<QString>("ac");
        QTest::addColumn<QString>("batt");
        QTest::addColumn<QString>("capacity");
        QTest::newRow("typed values") << "9999"
                                      << "1"
                                      << "100";
    }
    void shutdownConditionSaved()
    {
        QFETCH(QString, ac);
        QFETCH(QString, batt);
        QFETCH(QString, capacity);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        f.acTime->setText(ac);
        f.battTime->setText(batt);
        f.capacity->setText(capacity);
        f.submit();
        QVERIFY(f.accepted());
        const Snapshot saved = settingsSnapshot();
        QCOMPARE(saved.value(QStringLiteral("shutdown/ac_failed_time")), QString::number(ac.toInt()));
        QCOMPARE(saved.value(QStringLiteral("shutdown/batt_low_time")), QString::number(batt.toInt()));
        QCOMPARE(saved.value(QStringLiteral("shutdown/ac_failed_capacity")), QString::number(capacity.toInt()));
    }

    // One table of ranges for the dialog and the service: a refused field names itself and writes nothing.
    void fieldRanges_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("accepted");
        for (const SettingRow &row : settingRows())
            QTest::newRow(row.name) << QString::fromLatin1(row.key) << QString::fromLatin1(row.value) << row.accepted;
    }
    void fieldRanges()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(bool, accepted);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        const QHash<QString, QPair<QLineEdit *, QString>> fields {
            {QStringLiteral("shutdown/ac_failed_capacity"),
                {f.capacity, QStringLiteral("AC failed shutdown capacity")}},
            {QStringLiteral("shutdown/ac_failed_time"), {f.acTime, QStringLiteral("AC failed shutdown time")}},
            {QStringLiteral("shutdown/batt_low_time"), {f.battTime, QStringLiteral("Battery low shutdown time")}},
            {QStringLiteral("system/shutdown_exec_time"), {f.execTime, QStringLiteral("Maximum execution time")}}};
        if (!fields.contains(key))
            QSKIP("no field of the dialog");
        f.app->click();
        f.path->setText(QCoreApplication::applicationFilePath());
        const Snapshot before = settingsSnapshot();
        fields.value(key).first->setText(value);
        f.submit();
        QCOMPARE(f.accepted(), accepted);
        if (accepted) {
            // A countdown switched off is confirmed first; the recorder answers "Sure".
            const bool off = value == QLatin1String("0") && key.startsWith(QLatin1String("shutdown/"))
                && key.endsWith(QLatin1String("_time"));
            QCOMPARE(prompts.requests.size(), off ? 1 : 0);
            QCOMPARE(settingsSnapshot().value(key), QString::number(value.toInt()));
        } else {
            QCOMPARE(prompts.texts().size(), 1);
            QVERIFY2(prompts.texts().first().startsWith(fields.value(key).second + QStringLiteral(" must be")),
                qPrintable(prompts.texts().first()));
            QCOMPARE(settingsSnapshot(), before);
        }
    }

    // The application is refused when it is saved, for the reason the outage would refuse it.
    void untrustedApplicationRefusedWithItsReason()
    {
        const QString script = store.app.path(QStringLiteral("group-writable.sh"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        const Snapshot before = settingsSnapshot();
        f.app->click();
        f.path->setText(script);
        f.submit();
        QVERIFY(!f.accepted());
        // The backend checks it as an outage would and says why, naming it.
        QCOMPARE(prompts.texts(),
            QStringList {QStringLiteral("The change was refused: shutdown application ") + script
                + QStringLiteral(": writable by the group")});
        QCOMPARE(settingsSnapshot(), before);
    }

    // "Test" runs the application now as an outage would and says how it ended; it saves and powers off nothing.
    void testButton_data()
    {
        QTest::addColumn<bool>("groupWritable");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("exit 3") << false << int(UserPrompt::Kind::Information)
                                << "The shutdown application ended with exit code 3 after ";
        QTest::newRow("group-writable is not run")
            << true << int(UserPrompt::Kind::Warning)
            << "The shutdown application would be refused at a power failure: writable by the group";
    }
    void testButton()
    {
        QFETCH(bool, groupWritable);
        QFETCH(int, kind);
        QFETCH(QString, text);
        const QString marker = store.app.path(QStringLiteral("tested"));
        const QString script = store.app.path(QStringLiteral("test me.sh"));
        QFile::remove(marker);
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("#!/bin/sh\ntouch '" + marker.toUtf8() + "'\nexit 3\n");
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QVERIFY(file.setPermissions(groupWritable ? permissions | QFile::WriteGroup : permissions));
        int powerOffs = 0;
        setShutdownBackend([&powerOffs] { ++powerOffs; });

        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        auto *test = dialog.findChild<QPushButton *>(QStringLiteral("testButton"));
        QVERIFY(test && !test->isEnabled());
        f.app->click();
        f.path->setText(script);
        f.execTime->setText(QStringLiteral("1"));
        const Snapshot before = settingsSnapshot();
        test->click();
        QVERIFY(!test->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(prompts.requests.size(), 1, 10000);
        setShutdownBackend({});
        QCOMPARE(int(prompts.requests.first().kind), kind);
        QVERIFY2(prompts.texts().first().startsWith(text), qPrintable(prompts.texts().first()));
        QCOMPARE(prompts.requests.first().buttons, QStringList {QStringLiteral("Sure")});
        QCOMPARE(QFile::exists(marker), !groupWritable);
        QVERIFY(test->isEnabled());
        QCOMPARE(powerOffs, 0);
        QCOMPARE(settingsSnapshot(), before);
        QVERIFY(!f.accepted());
    }

    // What would shut down at once, or switch a countdown off, is asked first; "Cancel" saves nothing.
    void confirmationBeforeSaving_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("capacity");
        QTest::addColumn<QString>("acTime");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("question");
        const QByteArray onBattery30("\x02\x01\x00\x1e\x0f", 5);
        const QByteArray mainsNormal30("\x02\x00\x00\x1e\x0f", 5);
        const QByteArray capacityUnknown("\x02\x01\x00\x1e\x07", 5);
        const QString immediate = QStringLiteral(
            "On battery now below 40 %: 10.0.0.9 (30 %). Saving this capacity starts the shutdown at once.");
        QTest::newRow("on battery at 30, threshold 40, cancel") << onBattery30 << "40"
                                                                << "5" << 1 << immediate;
        QTest::newRow("on battery at 30, threshold 40, sure") << onBattery30 << "40"
                                                              << "5" << 0 << immediate;
        QTest::newRow("on battery at 30, threshold 30") << onBattery30 << "30"
                                                        << "5" << 0 << QString();
        QTest::newRow("mains normal") << mainsNormal30 << "40"
                                      << "5" << 0 << QString();
        QTest::newRow("capacity unknown") << capacityUnknown << "40"
                                          << "5" << 0 << QString();
        QTest::newRow("ac time 0, cancel")
            << mainsNormal30 << "20"
            << "0" << 1 << QStringLiteral("AC failed shutdown time is 0: the AC-failed condition will be off.");
    }
    void confirmationBeforeSaving()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, capacity);
        QFETCH(QString, acTime);
        QFETCH(int, answer);
        QFETCH(QString, question);
        store.insert(card(QStringLiteral("10.0.0.9"), 161));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        // The card's report as the backend knows it.
        holder->protection()->handleSNMPStatus(QStringLiteral("10.0.0.9"), 1);
        holder->protection()->handleSNMPData(QStringLiteral("10.0.0.9"), data);
        const Snapshot before = settingsSnapshot();
        f.capacity->setText(capacity);
        f.acTime->setText(acTime);
        prompts.answers << UserPrompt::Answer {answer, QString(), QString()};
        f.submit();
        if (question.isEmpty()) {
            QVERIFY(prompts.requests.isEmpty());
        } else {
            QCOMPARE(prompts.texts(), QStringList {question});
            QCOMPARE(prompts.requests.first().kind, UserPrompt::Kind::Information);
            QCOMPARE(
                prompts.requests.first().buttons, (QStringList {QStringLiteral("Sure"), QStringLiteral("Cancel")}));
        }
        QCOMPARE(f.accepted(), answer == 0);
        if (answer == 0)
            QCOMPARE(settingsSnapshot().value(QStringLiteral("shutdown/ac_failed_capacity")), capacity);
        else
            QCOMPARE(settingsSnapshot(), before);
    }

    // After a successful save the file agrees with the box; the backend tells the window of what was written.
    void popupSetting_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored"); // "" for an absent key
        QTest::addColumn<bool>("box");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QList<bool>>("emitted");
        const QString popup = QStringLiteral("system/pop_warning");
        const QString desktop = QStringLiteral("system/desktop_notify");
        QTest::newRow("absent, left checked") << popup << "" << true << "true" << QList<bool> {true};
        QTest::newRow("absent, unchecked") << popup << "" << false << "false" << QList<bool> {false};
        QTest::newRow("true, kept") << popup << "true" << true << "true" << QList<bool> {};
        QTest::newRow("true, unchecked") << popup << "true" << false << "false" << QList<bool> {false};
        QTest::newRow("false, checked") << popup << "false" << true << "true" << QList<bool> {true};
        QTest::newRow("false, kept") << popup << "false" << false << "false" << QList<bool> {};
        QTest::newRow("desktop: absent, left checked") << desktop << "" << true << "true" << QList<bool> {true};
        QTest::newRow("desktop: absent, unchecked") << desktop << "" << false << "false" << QList<bool> {false};
        QTest::newRow("desktop: true, unchecked") << desktop << "true" << false << "false" << QList<bool> {false};
        QTest::newRow("desktop: false, checked") << desktop << "false" << true << "true" << QList<bool> {true};
        QTest::newRow("desktop: false, kept") << desktop << "false" << false << "false" << QList<bool> {};
    }
    void popupSetting()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(bool, box);
        QFETCH(QString, saved);
        QFETCH(QList<bool>, emitted);
        if (!stored.isEmpty())
            presetSettings({{key, stored}});
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        QList<bool> told;
        connect(&backend(), &ProtectionBackend::settingChanged, &dialog, [&](const QString &k, const QVariant &v) {
            if (k == key)
                told << v.toBool();
        });
        QCheckBox *check = key == QLatin1String("system/pop_warning") ? f.popup : f.desktop;
        QVERIFY(check);
        QCOMPARE(check->isChecked(), stored != QLatin1String("false"));
        if (check->isChecked() != box)
            check->click();
        f.submit();
        QVERIFY(f.accepted());
        QCOMPARE(settingsSnapshot().value(key), saved);
        QCOMPARE(told, emitted);
    }

    void popupNotSavedOnCancel()
    {
        presetSettings({{QStringLiteral("system/pop_warning"), QStringLiteral("true")}});
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        f.popup->click();
        f.cancel->click();
        QCOMPARE(settingsSnapshot().value(QStringLiteral("system/pop_warning")), QStringLiteral("true"));
        QVERIFY(f.popups.isEmpty());
    }

    void browse_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("shown");
        QTest::newRow("file chosen") << "/usr/local/bin/before-off"
                                     << "/usr/local/bin/before-off";
        QTest::newRow("cancelled") << ""
                                   << "/opt/ups/stored";
    }
    void browse()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, shown);
        presetSettings({{QStringLiteral("system/shutdown_app_enable"), QStringLiteral("true")},
            {QStringLiteral("system/shutdown_app"), QStringLiteral("/opt/ups/stored")}});
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        prompts.answers << UserPrompt::Answer {0, chosen, QString()};
        f.browse->click();
        QCOMPARE(prompts.requests.size(), 1);
        QCOMPARE(prompts.requests.first().kind, UserPrompt::Kind::OpenFile);
        QCOMPARE(prompts.requests.first().title, QStringLiteral("Browse shutdown application"));
        QCOMPARE(prompts.requests.first().text, AppPaths::root());
        QCOMPARE(prompts.requests.first().parent, &dialog);
        QCOMPARE(f.path->text(), shown);
    }

    void hostAddedStaysAfterCancel()
    {
        store.insert(card(QStringLiteral("10.0.0.1"), 161));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        bool seen = false;
        whenModal<AddHostDialog>([&](AddHostDialog *host) {
            seen = host->windowTitle() == QLatin1String("Add") && host->parent() == nullptr;
            host->findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("10.0.0.8"));
            host->findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(QStringLiteral("1161"));
            host->findChild<QPushButton *>(QStringLiteral("sureButton"))->click();
        });
        f.add->click();
        QVERIFY(seen);
        QCOMPARE(f.lists, (QList<QStringList> {words("10.0.0.1|10.0.0.8")}));
        QTRY_COMPARE(f.column(0), words("10.0.0.1|10.0.0.8"));
        QCOMPARE(f.column(1), words("161|1161"));
        QCOMPARE(f.table->item(1, 2)->textAlignment(), int(Qt::AlignCenter));
        // Adding selects nothing.
        f.remove->click();
        QVERIFY(prompts.requests.isEmpty());

        f.cancel->click();
        QCOMPARE(store.rows().size(), 2);
        QCOMPARE(store.rows().last().value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.8"));
    }

    void addCancelledChangesNothing()
    {
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        whenModal<AddHostDialog>(
            [](AddHostDialog *host) { host->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click(); });
        f.add->click();
        QVERIFY(f.lists.isEmpty());
        QCOMPARE(f.table->rowCount(), 0);
        QVERIFY(store.rows().isEmpty());
    }

    void modifyThroughHostDialog()
    {
        store.insert(card(QStringLiteral("10.0.0.1"), 161));
        const SNMPInfo old = usmCard(
            QStringLiteral("10.0.0.2"), 161, QStringLiteral("operator1"), QStringLiteral("secretsecret"), 1, 0);
        store.insert(old);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        f.click(1);
        QString loadedUser;
        whenModal<AddHostDialog>([&](AddHostDialog *host) {
            loadedUser = host->findChild<QLineEdit *>(QStringLiteral("userNameEdit"))->text();
            host->findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(QStringLiteral("10.0.0.20"));
            host->findChild<QRadioButton *>(QStringLiteral("v1v2Radio"))->click();
            host->findChild<QLineEdit *>(QStringLiteral("communityEdit"))->setText(QStringLiteral("private"));
            host->findChild<QPushButton *>(QStringLiteral("sureButton"))->click();
        });
        f.modify->click();
        QCOMPARE(loadedUser, old.userName);
        QCOMPARE(f.lists, (QList<QStringList> {words("10.0.0.1|10.0.0.20")}));
        QTRY_COMPARE(f.column(0), words("10.0.0.1|10.0.0.20"));
        QCOMPARE(f.column(2), words("SNMP v1/v2|SNMP v1/v2"));
        QCOMPARE(store.rows().last().value(QStringLiteral("ip")).toString(), QStringLiteral("10.0.0.20"));
    }

    void modifyOfAHostNoLongerStoredIsRefused()
    {
        store.insert(card(QStringLiteral("10.0.0.1"), 161));
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        f.click(0);
        store.exec(QStringLiteral("delete from snmp_session"));
        // The dialog shows what it read; the backend refuses to change what is no longer stored.
        bool opened = false;
        whenModal<AddHostDialog>([&](AddHostDialog *host) {
            opened = true;
            host->findChild<QPushButton *>(QStringLiteral("sureButton"))->click();
            // Refused, it stays open with what was entered; the test closes it once the refusal was shown.
            auto *poll = new QTimer(host);
            QObject::connect(poll, &QTimer::timeout, host, [this, host] {
                if (!prompts.requests.isEmpty())
                    host->reject();
            });
            poll->start(10);
            QTimer::singleShot(5000, host, &QDialog::reject);
        });
        f.modify->click();
        QVERIFY(opened);
        QCOMPARE(prompts.requests.size(), 1);
        QVERIFY2(prompts.texts().first().startsWith(QStringLiteral("The change was refused: ")),
            qPrintable(prompts.texts().first()));
        QVERIFY(store.rows().isEmpty());
        QVERIFY(f.lists.isEmpty());
    }

    void retranslatesOnLanguageChange()
    {
        store.insert(card(QStringLiteral("10.0.0.3"), 162));
        SNMPInfo odd = card(QStringLiteral("10.0.0.4"), 162);
        odd.version = 3; // 2 is a network UPS server
        store.insert(odd);
        SettingsDialog dialog(&backend());
        Form f(dialog, backend());
        QTranslator zh;
        QVERIFY(zh.load(store.app.path(QStringLiteral("translate/zh.qm"))));
        QVERIFY(QCoreApplication::installTranslator(&zh));
        QCoreApplication::processEvents();
        const QString chineseTitle = QCoreApplication::translate("SettingsDialog", "Settings");
        QVERIFY(chineseTitle != QLatin1String("Settings"));
        QCOMPARE(dialog.windowTitle(), chineseTitle);
        QCOMPARE(
            f.table->horizontalHeaderItem(0)->text(), QCoreApplication::translate("SettingsDialog", "Host address"));
        QCOMPARE(f.sure->text(), QCoreApplication::translate("SettingsDialog", "&Sure"));
        QCOMPARE(f.popup->text(), QCoreApplication::translate("SettingsDialog", "&Popup warning message"));
        QVERIFY(f.popup->text() != QLatin1String("&Popup warning message"));
        // Cells keep the language they were made in.
        QCOMPARE(f.table->item(1, 2)->text(), QStringLiteral("Unknown"));
        QCOMPARE(f.table->item(0, 2)->text(), QStringLiteral("SNMP v1/v2"));
        QCoreApplication::removeTranslator(&zh);
        QCoreApplication::processEvents();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    }

private:
    // The backend of a test, made at its first use: after the test has stored what the backend starts with.
    ProtectionBackend &backend()
    {
        if (!holder)
            holder = std::make_unique<BackendHolder>(&shutdownRequests);
        return *holder->backend();
    }

    HostStore store;
    PromptRecorder prompts;
    std::unique_ptr<BackendHolder> holder;
    int shutdownRequests = 0;
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
