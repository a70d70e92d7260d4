#include "storage/eventstore.h"

#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/logthrottle.h"
#include "storage/statements.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <vector>

#include <sys/stat.h>

namespace {
constexpr int retryMs = 500;
constexpr int cap = 60000; // the table grows to cap + 1 rows, as it always has
// Off the GUI thread the writer can afford to ride out another program's transaction for a while.
constexpr char writerOptions[] = "QSQLITE_BUSY_TIMEOUT=250";

qint64 steadyMs()
{
    return LogThrottle::steadyMs();
}

struct FileId
{
    dev_t dev = 0;
    ino_t ino = 0;
    bool exists = false;
    bool operator==(const FileId &o) const { return exists == o.exists && dev == o.dev && ino == o.ino; }
};

FileId fileId(const QString &path)
{
    struct stat st
    {
    };
    FileId id;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.exists = true;
    }
    return id;
}
// The acknowledgement that the next store() on this thread takes (AcknowledgeNext).
thread_local EventStore::Acknowledge *nextAcknowledge = nullptr;
} // namespace

EventStore::AcknowledgeNext::AcknowledgeNext(Acknowledge acknowledge)
    : m_previous(nextAcknowledge), m_acknowledge(std::move(acknowledge))
{
    nextAcknowledge = &m_acknowledge;
}

EventStore::AcknowledgeNext::~AcknowledgeNext()
{
    nextAcknowledge = m_previous;
    if (m_acknowledge)
        m_acknowledge(true);
}

struct EventStore::Private
{
    mutable std::mutex mutex;
    std::condition_variable wake; // the writer waits here for rows or the stop
    std::condition_variable settled; // flush() waits here for the queue to empty
    std::deque<Row> pending;
    // Beside pending, one for one; mostly empty functions (traps).
    std::deque<Acknowledge> acknowledges;
    QString lastHost; // shares one string among the rows of a sender that floods
    bool busy = false; // a batch is being written
    bool failing = false;
    bool stopping = false;
    qint64 stopDeadline = 0;
    quint64 generation = 0; // a root change (tests only) orphans what was pending for the old database
    quint64 dropped = 0;
    quint64 written = 0;
    QThread *thread = nullptr;
    LogThrottle dropLog;

    // Writer thread only.
    QString openPath;
    QString connectionName;
    FileId openFile;
    QString rootOfPending;

    void refuseAll()
    {
        for (Acknowledge &acknowledge : acknowledges) {
            if (acknowledge)
                acknowledge(false);
        }
        acknowledges.clear();
        pending.clear();
    }

    void dropOldest(std::size_t count)
    {
        for (std::size_t i = 0; i < count && !pending.empty(); ++i) {
            pending.pop_front();
            if (acknowledges.front())
                acknowledges.front()(false);
            acknowledges.pop_front();
        }
        dropped += count;
        if (const qint64 n = dropLog.hit(QStringLiteral("memory bound"), steadyMs()))
            qWarning("Event store: %d events waiting, the oldest dropped (%lld in all so far, %lld since the last "
                     "line)",
                maxPending, static_cast<long long>(dropped), static_cast<long long>(n));
    }
};

EventStore *EventStore::instance()
{
    static EventStore *store = [] {
        qRegisterMetaType<EventStore::Row>();
        qRegisterMetaType<QVector<EventStore::Row>>();
        auto *created = new EventStore;
        // The writer must be gone before the library's statics are: joined when the application ends.
        qAddPostRoutine([] { EventStore::instance()->stop(2000); });
        return created;
    }();
    return store;
}

EventStore::EventStore() : d(new Private)
{ }

EventStore::~EventStore()
{
    stop(0);
}

void EventStore::store(const QString &host, int event)
{
    Acknowledge acknowledge;
    if (nextAcknowledge) {
        acknowledge.swap(*nextAcknowledge);
        nextAcknowledge = nullptr;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString root = AppPaths::root();
    std::lock_guard<std::mutex> lock(d->mutex);
    if (root != d->rootOfPending) {
        // Only tests move the installation while running; rows of the old one have nowhere to go.
        if (!d->pending.empty())
            qWarning("Event store: %d events for a database that is no longer used dropped", int(d->pending.size()));
        d->dropped += d->pending.size();
        d->refuseAll();
        d->rootOfPending = root;
        ++d->generation;
        d->failing = false;
    }
    // Kept in memory it would be stored twice: its sender sends it again until it is acknowledged.
    if (acknowledge && d->failing) {
        acknowledge(false);
        return;
    }
    if (host != d->lastHost)
        d->lastHost = host;
    if (d->pending.size() >= std::size_t(maxPending))
        d->dropOldest(d->pending.size() - maxPending + 1);
    d->pending.push_back(Row {d->lastHost, event, now});
    d->acknowledges.push_back(std::move(acknowledge));
    if (!d->thread) {
        d->stopping = false;
        d->thread = QThread::create([this] { run(); });
        d->thread->setObjectName(QStringLiteral("event store"));
        d->thread->start();
    }
    d->wake.notify_one();
}

bool EventStore::flush(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    d->wake.notify_one();
    return d->settled.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return (d->pending.empty() && !d->busy) || d->failing;
    }) && !d->failing;
}

void EventStore::whenFlushed(QObject *context, int timeoutMs, std::function<void(bool written)> done)
{
    // Lives with context, so it goes with it, and goes after the answer.
    auto *waiter = new QObject(context);
    auto answered = std::make_shared<bool>(false);
    const auto answer = [this, waiter, done, answered](bool timedOut) {
        if (*answered)
            return;
        bool written = false;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            const bool settled = d->pending.empty() && !d->busy;
            if (!settled && !d->failing && !timedOut)
                return;
            written = settled && !d->failing;
        }
        *answered = true;
        waiter->deleteLater();
        done(written);
    };
    // Connected before the first look: a batch that ends in between is still heard of.
    connect(
        this, &EventStore::caughtUp, waiter, [answer] { answer(false); }, Qt::QueuedConnection);
    QTimer::singleShot(timeoutMs, waiter, [answer] { answer(true); });
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->wake.notify_one();
    }
    answer(false);
}

void EventStore::stop(int timeoutMs)
{
    QThread *thread = nullptr;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->thread)
            return;
        d->stopping = true;
        d->stopDeadline = steadyMs() + timeoutMs;
        thread = d->thread;
        d->wake.notify_all();
    }
    thread->wait();
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->pending.empty()) {
        qWarning("Event store: %d events could not be stored before the end and are lost", int(d->pending.size()));
        d->dropped += d->pending.size();
        d->refuseAll();
    }
    delete d->thread;
    d->thread = nullptr;
    d->failing = false;
    d->settled.notify_all();
}

int EventStore::pendingCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return int(d->pending.size());
}

bool EventStore::isFailing() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->failing;
}

quint64 EventStore::droppedCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->dropped;
}

quint64 EventStore::writtenCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->written;
}

void EventStore::run()
{
    qint64 lastCommit = -commitIntervalMs;
    std::unique_lock<std::mutex> lock(d->mutex);
    for (;;) {
        d->wake.wait(lock, [this] { return !d->pending.empty() || d->stopping; });
        if (d->pending.empty() || (d->stopping && d->failing && steadyMs() >= d->stopDeadline))
            break;
        // At most one commit per interval: under a burst the rows of the interval share one flush, while a
        // single event after a quiet spell is written at once.
        const qint64 wait = lastCommit + commitIntervalMs - steadyMs();
        if (wait > 0 && !d->stopping) {
            lock.unlock();
            QThread::msleep(static_cast<unsigned long>(wait));
            lock.lock();
        }
        QVector<Row> batch;
        batch.reserve(int(d->pending.size()));
        for (Row &row : d->pending)
            batch.append(std::move(row));
        std::vector<Acknowledge> acknowledges(
            std::make_move_iterator(d->acknowledges.begin()), std::make_move_iterator(d->acknowledges.end()));
        d->pending.clear();
        d->acknowledges.clear();
        d->busy = true;
        const quint64 generation = d->generation;
        lock.unlock();

        QString error;
        const bool ok = writeBatch(batch, &error);

        if (ok) {
            // Durable now: the informs among them may be answered.
            for (Acknowledge &acknowledge : acknowledges) {
                if (acknowledge)
                    acknowledge(true);
            }
            emit rowsStored(batch);
        }

        lock.lock();
        d->busy = false;
        if (ok) {
            lastCommit = steadyMs();
            d->written += quint64(batch.size());
            if (d->failing) {
                d->failing = false;
                qWarning("Storing events works again; the events kept meanwhile are written");
                emit storingRecovered();
            }
            d->settled.notify_all();
            if (d->pending.empty()) {
                lock.unlock();
                emit caughtUp();
                lock.lock();
            }
            continue;
        }
        if (generation != d->generation) {
            d->dropped += quint64(batch.size());
            for (Acknowledge &acknowledge : acknowledges) {
                if (acknowledge)
                    acknowledge(false);
            }
        } else {
            // Back to the front, in their order, ahead of what came meanwhile; the bound still holds. The informs
            // are refused instead: their senders send them again.
            std::deque<Row> kept;
            for (int i = 0; i < batch.size(); ++i) {
                if (acknowledges[std::size_t(i)])
                    acknowledges[std::size_t(i)](false);
                else
                    kept.push_back(std::move(batch[i]));
            }
            d->acknowledges.insert(d->acknowledges.begin(), kept.size(), Acknowledge());
            d->pending.insert(
                d->pending.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
            if (d->pending.size() > std::size_t(maxPending))
                d->dropOldest(d->pending.size() - maxPending);
            if (!d->failing) {
                d->failing = true;
                qWarning() << "Storing events failed:" << error
                           << "- the events are kept in memory until storing works again";
                emit storingFailed();
            }
        }
        d->settled.notify_all();
        lock.unlock();
        emit caughtUp(); // failing, or the rows of a database no longer used are gone
        lock.lock();
        if (d->stopping && steadyMs() >= d->stopDeadline)
            break;
        if (d->stopping) {
            lock.unlock();
            QThread::msleep(100);
            lock.lock();
        } else {
            d->wake.wait_for(lock, std::chrono::milliseconds(retryMs), [this] { return d->stopping; });
        }
    }
    lock.unlock();
    if (!d->connectionName.isEmpty()) {
        QSqlDatabase::database(d->connectionName, false).close();
        QSqlDatabase::removeDatabase(d->connectionName);
        d->connectionName.clear();
        d->openPath.clear();
    }
}

bool EventStore::writeBatch(const QVector<Row> &rows, QString *error)
{
    const QString path = AppPaths::databasePath();
    // A database file deleted or replaced while running would take the rows into the unlinked file: a new
    // connection on what the path names now, with the schema made when the file is new.
    if (path != d->openPath || !(fileId(path) == d->openFile)) {
        if (!d->connectionName.isEmpty()) {
            QSqlDatabase::database(d->connectionName, false).close();
            QSqlDatabase::removeDatabase(d->connectionName);
        }
        d->connectionName = path + QStringLiteral("#writer");
        d->openPath = path;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d->connectionName);
        db.setDatabaseName(path);
        db.setConnectOptions(QLatin1String(writerOptions));
        Database::prepareFile(path);
        if (db.open())
            Database::createSchema(db);
        d->openFile = fileId(path);
        if (!db.isOpen()) {
            d->openPath.clear(); // try again next time
            if (error)
                *error = db.lastError().text();
            return false;
        }
    }
    QSqlDatabase db = QSqlDatabase::database(d->connectionName, false);
    if (!writeRows(db, rows, QDateTime::currentSecsSinceEpoch(), error)) {
        d->openPath.clear(); // reopen: a read-only or vanished file may be writable again by then
        return false;
    }
    return true;
}

bool EventStore::writeRows(QSqlDatabase &db, const QVector<Row> &rows, qint64 nowSeconds, QString *error)
{
    auto fail = [&](const QSqlError &e) {
        if (error)
            *error = e.text();
        db.rollback();
        return false;
    };
    if (!db.transaction())
        return fail(db.lastError());
    QSqlQuery count(db);
    if (!count.exec(QLatin1String(Sql::countEvents)) || !count.next())
        return fail(count.lastError());
    qint64 rowsNow = count.value(0).toLongLong();
    count.finish();
    QSqlQuery insert(db);
    QSqlQuery insertDated(db);
    QSqlQuery dropOldest(db);
    if (!insert.prepare(QLatin1String(Sql::insertEvent)))
        return fail(insert.lastError());
    for (const Row &row : rows) {
        if (rowsNow > cap) {
            if (dropOldest.lastQuery().isEmpty() && !dropOldest.prepare(QLatin1String(Sql::deleteOldestSecond)))
                return fail(dropOldest.lastError());
            if (!dropOldest.exec())
                return fail(dropOldest.lastError());
            rowsNow -= dropOldest.numRowsAffected();
        }
        QSqlQuery *query = &insert;
        if (nowSeconds - row.at > 1) {
            if (insertDated.lastQuery().isEmpty() && !insertDated.prepare(QLatin1String(Sql::insertEventAt)))
                return fail(insertDated.lastError());
            insertDated.bindValue(QStringLiteral(":3"), row.at);
            query = &insertDated;
        }
        query->bindValue(QStringLiteral(":1"), row.host);
        query->bindValue(QStringLiteral(":2"), row.event);
        if (!query->exec())
            return fail(query->lastError());
        ++rowsNow;
    }
    insert.finish();
    insertDated.finish();
    dropOldest.finish();
    if (!db.commit())
        return fail(db.lastError());
    return true;
}
