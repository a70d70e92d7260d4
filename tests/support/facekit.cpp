#include "support/facekit.h"

#include "support/cards.h"

#include "backend/localbackend.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "storage/apppaths.h"
#include "storage/eventstore.h"
#include "storage/settingkeys.h"
#include "storage/settings.h"
#include "storage/statements.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableWidget>
#include <QVariant>

namespace FaceKit {

void prepare(const ScratchApp &app, const QByteArray &catalogueText)
{
    QFile file(app.path(QStringLiteral("cfg/vigilex.cfg")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(catalogueText);
    file.close();
    Database::instance()->createTables();
    // A box would wait for a person: the rig's installations open none unless a test asks for them.
    Store::writeSetting(QLatin1String(SettingKeys::popWarning), false);
}

SNMPInfo card(const QString &ip, int port, const QString &community)
{
    return v2cHost(ip, port, community);
}

SNMPInfo usmCard(const QString &ip, int port, const QString &user, const QString &password, int auth, int priv)
{
    return v3Host(ip, port, auth, priv, user, password);
}

bool sameInfo(const SNMPInfo &a, const SNMPInfo &b)
{
    return a.ip == b.ip && a.port == b.port && a.version == b.version && a.community == b.community
        && a.authType == b.authType && a.privType == b.privType && a.userName == b.userName && a.password == b.password;
}

namespace Store {

QSqlDatabase db()
{
    return Database::instance()->connection(AppPaths::databasePath());
}

bool exec(const QString &sql)
{
    return QSqlQuery(db()).exec(sql);
}

void insert(const SNMPInfo &info)
{
    QSqlQuery q(db());
    q.prepare(QStringLiteral("insert into snmp_session(date, ip, port, version, community, authType, privType, "
                             "userName, password) values(0, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const bool usm = info.version == Snmp::Usm;
    q.addBindValue(info.ip);
    q.addBindValue(info.port);
    q.addBindValue(info.version);
    q.addBindValue(usm ? QVariant() : QVariant(info.community));
    q.addBindValue(usm ? QVariant(info.authType) : QVariant());
    q.addBindValue(usm ? QVariant(info.privType) : QVariant());
    q.addBindValue(usm ? QVariant(info.userName) : QVariant());
    q.addBindValue(usm ? QVariant(info.password) : QVariant());
    q.exec();
}

void addSession(const QString &ip, int port)
{
    insert(card(ip, port));
}

QList<QVariantMap> hostRows()
{
    QList<QVariantMap> out;
    QSqlQuery q(db());
    q.exec(QStringLiteral("select * from snmp_session order by id"));
    while (q.next()) {
        QVariantMap row;
        for (int i = 0; i < q.record().count(); ++i)
            row.insert(q.record().fieldName(i), q.value(i));
        out << row;
    }
    return out;
}

QList<QPair<QString, int>> events()
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

void setReadOnly(bool on)
{
    exec(on ? QStringLiteral("pragma query_only = 1") : QStringLiteral("pragma query_only = 0"));
}

void reset()
{
    setReadOnly(false);
    exec(QStringLiteral("drop table if exists snmp_session"));
    Database::instance()->createTables();
    QFile::remove(AppPaths::settingsFilePath());
}

void writeSetting(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        QSettings(AppPaths::settingsFilePath(), QSettings::IniFormat).remove(key);
        return;
    }
    ::writeSetting(AppPaths::settingsFilePath(), key, value);
}

} // namespace Store

BackendReply wait(const std::function<void(QObject *context, ProtectionBackend::Done done)> &request)
{
    QObject context;
    QEventLoop loop;
    bool answered = false;
    BackendReply result = BackendReply::failure(QStringLiteral("no answer within 10 s"));
    request(&context, [&](const BackendReply &reply) {
        result = reply;
        answered = true;
        loop.quit();
    });
    if (!answered) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return result;
}

BackendReply addHost(ProtectionBackend &backend, const SNMPInfo &info)
{
    return wait([&](QObject *context, ProtectionBackend::Done done) { backend.addHost(info, context, done); });
}

BackendReply modifyHost(ProtectionBackend &backend, const SNMPInfo &info, const QString &oldIp)
{
    return wait(
        [&](QObject *context, ProtectionBackend::Done done) { backend.modifyHost(info, oldIp, context, done); });
}

BackendReply removeHost(ProtectionBackend &backend, const QString &ip)
{
    return wait([&](QObject *context, ProtectionBackend::Done done) { backend.removeHost(ip, context, done); });
}

BackendReply writeSettings(ProtectionBackend &backend, const QVariantMap &values)
{
    return wait([&](QObject *context, ProtectionBackend::Done done) { backend.writeSettings(values, context, done); });
}

QList<StoredCard> storedCards(ProtectionBackend &backend)
{
    QList<StoredCard> cards;
    wait([&](QObject *context, ProtectionBackend::Done done) {
        backend.storedCards(context, [&cards, done](const BackendReply &reply, const QList<StoredCard> &answer) {
            cards = answer;
            done(reply);
        });
    });
    return cards;
}

StoredCard storedCard(ProtectionBackend &backend, const QString &ip)
{
    for (const StoredCard &card : storedCards(backend)) {
        if (card.info.ip == ip)
            return card;
    }
    return {};
}

BackendHolder::BackendHolder(int *shutdownRequests) : m_backend(std::make_unique<LocalBackend>())
{
    shutdownPolicy()->setShutdownHandler([shutdownRequests] {
        if (shutdownRequests)
            ++*shutdownRequests;
    });
}

BackendHolder::~BackendHolder() = default;

Protection *BackendHolder::protection() const
{
    return m_backend->protection();
}

ShutdownPolicy *BackendHolder::shutdownPolicy() const
{
    return protection()->policy();
}

void BackendHolder::setEngine(SNMP *engine)
{
    m_backend->setEngine(engine);
}

std::unique_ptr<Window> makeWindow(int *shutdownRequests)
{
    auto window = std::make_unique<Window>(shutdownRequests);
    // The backend's first answers (the pop-up setting) come through the event loop, as at the program's start.
    QCoreApplication::processEvents();
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

PromptRecorder::PromptRecorder(std::function<void(const UserPrompt::Request &)> during) : m_during(std::move(during))
{
    UserPrompt::setHook([this](const UserPrompt::Request &request) {
        requests.append(request);
        ++open;
        maxOpen = qMax(maxOpen, open);
        if (m_during)
            m_during(request);
        --open;
        return answers.isEmpty() ? UserPrompt::Answer {} : answers.takeFirst();
    });
}

PromptRecorder::~PromptRecorder()
{
    UserPrompt::setHook({});
}

QStringList PromptRecorder::texts() const
{
    QStringList out;
    for (const UserPrompt::Request &r : requests)
        out << r.text;
    return out;
}

bool closeButtonOnly(const QWidget &w)
{
    const Qt::WindowFlags flags = w.windowFlags();
    return (flags & Qt::WindowCloseButtonHint)
        && !(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint));
}

} // namespace FaceKit
