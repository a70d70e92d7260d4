// The dialogs, the window and the engine together against a simulated card, in a network namespace of the
// test's own: a card added through the dialogs is polled at once, and a removed one no longer is.
#include "support/facekit.h"

#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "support/netns.h"
#include "support/upssim.h"
#include "ui/addhostdialog.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"
#include "ui/settingsdialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <cstdio>
#include <memory>

using namespace FaceKit;

namespace {
const QString cardIp = QStringLiteral("127.0.0.1");
constexpr int cardPort = 16161;

QColor lampOf(MainWindow &window, const QString &host)
{
    ListWidgetItem *item = window.findHostItem(host);
    return item ? item->led()->color() : QColor();
}
} // namespace

class TestDialogsEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(store.app.isValid());
        card.reset(new UpsSim(QStringLiteral("udp:%1:%2").arg(cardIp).arg(cardPort)));
        QVERIFY2(card->start(), qPrintable(card->log()));
        engine.reset(new SNMP);
        engine->startService();
        // Whatever the card reports, this machine is never shut down.
        window = makeWindow(&shutdownRequests);
        window->setEngine(engine.get());
    }
    void cleanupTestCase()
    {
        window.reset();
        engine.reset();
        card.reset();
        QCOMPARE(shutdownRequests, 0);
    }

    void addedCardIsPolledWhileTheDialogIsOpen()
    {
        bool inWindow = false, inEngine = false;
        whenModal<SettingsDialog>([&](SettingsDialog *settings) {
            whenModal<AddHostDialog>([](AddHostDialog *host) {
                host->findChild<QLineEdit *>(QStringLiteral("hostEdit"))->setText(cardIp);
                host->findChild<QLineEdit *>(QStringLiteral("portEdit"))->setText(QString::number(cardPort));
                host->findChild<QPushButton *>(QStringLiteral("sureButton"))->click();
            });
            settings->findChild<QPushButton *>(QStringLiteral("addButton"))->click();
            inWindow = window->hosts() == QStringList {cardIp};
            inEngine = engine->manager()->sessionCount() == 1;
            settings->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        });
        window->showSettingsDialog();
        QVERIFY(inWindow);
        QVERIFY(inEngine);
        QCOMPARE(store.rows().size(), 1);
        QCOMPARE(lampOf(*window, cardIp), QColor(Qt::gray));
        QTRY_COMPARE_WITH_TIMEOUT(lampOf(*window, cardIp), QColor(Qt::green), 8000);
        QVERIFY(card->requestCount() > 0);
    }

    void removedCardIsNoLongerPolled()
    {
        bool asked = false;
        whenModal<SettingsDialog>([&](SettingsDialog *settings) {
            auto *table = settings->findChild<QTableWidget *>(QStringLiteral("hostTable"));
            QTest::mouseClick(
                table->viewport(), Qt::LeftButton, Qt::NoModifier, table->visualItemRect(table->item(0, 0)).center());
            settings->findChild<QPushButton *>(QStringLiteral("removeButton"))->click();
            asked = prompts.texts().contains(QStringLiteral("Are you sure to remove host ") + cardIp);
            settings->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        });
        window->showSettingsDialog();
        QVERIFY(asked);
        QVERIFY(window->hosts().isEmpty());
        QVERIFY(!window->findHostItem(cardIp));
        QCOMPARE(engine->manager()->sessionCount(), 0);
        QVERIFY(store.rows().isEmpty());

        // An answer already on its way may still be logged; after that the card hears nothing more.
        QTest::qWait(1200);
        const int settled = card->requestCount();
        QTest::qWait(2500);
        QCOMPARE(card->requestCount(), settled);
    }

private:
    HostStore store;
    PromptRecorder prompts;
    std::unique_ptr<UpsSim> card;
    std::unique_ptr<SNMP> engine;
    std::unique_ptr<Window> window;
    int shutdownRequests = 0;
};

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestDialogsEndToEnd)

#include "tst_dialogs_e2e.moc"
