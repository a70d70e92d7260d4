#include "windowkit.h"

#include "policy/shutdownpolicy.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventstore.h"
#include "storage/settings.h"
#include "storage/statements.h"
#include "ui/mainwindow.h"

#include <QFile>
#include <QSqlQuery>
#include <QTableWidget>
#include <QVariant>

namespace WindowKit {

void prepare(const ScratchApp &app, const QByteArray &catalogueText)
{
    QFile file(app.path(QStringLiteral("cfg/vigilex.cfg")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(catalogueText);
    file.close();
    Database::instance()->createTables();
}

static QSqlDatabase db() { return Database::instance()->connection(AppPaths::databasePath()); }

SNMPInfo card(const QString &ip, int port)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.community = QStringLiteral("public");
    return info;
}

void addSession(const QString &ip, int port)
{
    QSqlQuery query(db());
    query.prepare(QLatin1String(Sql::insertCommunitySession));
    query.bindValue(QStringLiteral(":1"), ip);
    query.bindValue(QStringLiteral(":2"), port);
    query.bindValue(QStringLiteral(":3"), 0);
    query.bindValue(QStringLiteral(":4"), QStringLiteral("public"));
    query.exec();
}

QList<QPair<QString, int>> storedEvents()
{
    EventStore::instance()->flush(5000); // whatever was handed to the store so far
    Database::instance()->reopenIfDeleted();
    QList<QPair<QString, int>> events;
    QSqlQuery query(db());
    query.exec(QStringLiteral("select host, event from snmp_event order by id;"));
    while (query.next())
        events.append({query.value(0).toString(), query.value(1).toInt()});
    return events;
}

std::unique_ptr<MainWindow> makeWindow(int *shutdownRequests)
{
    auto window = std::make_unique<MainWindow>();
    window->shutdownPolicy()->setShutdownHandler([shutdownRequests] {
        if (shutdownRequests)
            ++*shutdownRequests;
    });
    return window;
}

// The window adds rows in batches; a test looks at them all at once.
static void showPendingRows(QTableWidget *table)
{
    if (table && table->window())
        QMetaObject::invokeMethod(table->window(), "flushEventRows", Qt::DirectConnection);
}

QTableWidget *eventTable(MainWindow &window)
{
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("eventTable"));
    showPendingRows(table);
    return table;
}

QString cell(QTableWidget *table, int row, int column)
{
    showPendingRows(table);
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

QStringList rows(QTableWidget *table)
{
    showPendingRows(table);
    QStringList result;
    for (int row = 0; row < table->rowCount(); ++row)
        result << cell(table, row, 1) + QLatin1Char('|') + cell(table, row, 2);
    return result;
}

QStringList texts(std::initializer_list<const char *> items)
{
    QStringList result;
    for (const char *item : items)
        result << QString::fromUtf8(item);
    return result;
}

void writeSettingValue(const QString &key, const QVariant &value)
{
    writeSetting(AppPaths::settingsFilePath(), key, value);
}

PromptRecorder::PromptRecorder(std::function<void(const UserPrompt::Request &)> during)
    : m_during(std::move(during))
{
    UserPrompt::setHook([this](const UserPrompt::Request &request) {
        requests.append(request);
        ++open;
        maxOpen = qMax(maxOpen, open);
        if (m_during)
            m_during(request);
        --open;
        return UserPrompt::Answer {};
    });
}

PromptRecorder::~PromptRecorder() { UserPrompt::setHook({}); }

} // namespace WindowKit
