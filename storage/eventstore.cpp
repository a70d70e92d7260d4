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

#include <algorithm>
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
// Inside the caller's transaction; samples are few (one per card a minute), so the bounds are checked per batch.
bool writeSamples(
    QSqlDatabase &db, const QVector<EventStore::Sample> &samples, qint64 nowSeconds, int cap, QString *error)
{
    auto fail = [error](const QSqlQuery &query) {
        if (error)
            *error = query.lastError().text();
        return false;
    };
    QSqlQuery insert(db);
    if (!insert.prepare(QLatin1String(Sql::insertHistory)))
        return fail(insert);
    // NULL where the card did not say: absent is no number.
    const auto value = [](int v) { return v == HistorySample::absent ? QVariant(QVariant::Int) : QVariant(v); };
    for (const EventStore::Sample &s : samples) {
        insert.bindValue(QStringLiteral(":1"), s.host);
        insert.bindValue(QStringLiteral(":2"), s.sample.at);
        insert.bindValue(QStringLiteral(":3"), value(s.sample.capacity));
        insert.bindValue(QStringLiteral(":4"), value(s.sample.loadPercent));
        insert.bindValue(QStringLiteral(":5"), value(s.sample.runtimeMinutes));
        insert.bindValue(QStringLiteral(":6"), value(s.sample.inputVoltage));
        if (!insert.exec())
            return fail(insert);
    }
    insert.finish();
    QSqlQuery prune(db);
    // Minutes from a clock that was set ahead would outlive the present's under the cap: they go once it is
    // right again.
    if (!prune.prepare(QLatin1String(Sql::deleteHistoryOutside)))
        return fail(prune);
    prune.bindValue(QStringLiteral(":1"), nowSeconds - EventStore::historyDays * 86400);
    prune.bindValue(QStringLiteral(":2"), nowSeconds + 86400);
    if (!prune.exec())
        return fail(prune);
    QSqlQuery count(db);
    if (!count.exec(QLatin1String(Sql::countHistory)) || !count.next())
        return fail(count);
    const qint64 over = count.value(0).toLongLong() - cap;
    count.finish();
    if (over > 0) {
        QSqlQuery oldest(db);
        if (!oldest.prepare(QLatin1String(Sql::deleteOldestHistory)))
            return fail(oldest);
        oldest.bindValue(QStringLiteral(":1"), over);
        if (!oldest.exec())
            return fail(oldest);
    }
    return true;
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
    std::deque<Sample> samples; // beside pending, in the same batches
    QString lastHost; // shares one string among the rows of a sender that floods
    bool busy = false; // a batch is being written
    // Its rows and samples: not stored yet either.
    int busyRows = 0;
    int busySamples = 0;
    bool failing = false;
    bool stopping = false;
    qint64 stopDeadline = 0;
    quint64 generation = 0; // a root change (tests only) orphans what was pending for the old database
    quint64 dropped = 0;
    quint64 written = 0;
    quint64 droppedSamples = 0;
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
        samples.clear();
    }

    bool isSettled() const { return pending.empty() && samples.empty() && !busy; }
    bool waiting() const { return !pending.empty() || !samples.empty(); }

    void dropOldestSamples(std::size_t count)
    {
        count = std::min(count, samples.size());
        samples.erase(samples.begin(), samples.begin() + std::ptrdiff_t(count));
        droppedSamples += count;
        if (const qint64 n = dropLog.hit(QStringLiteral("sample bound"), steadyMs()))
            qWarning("Event store: %d history samples waiting, the oldest dropped (%lld in all so far, %lld since "
                     "the last line)",
                maxPendingSamples, static_cast<long long>(droppedSamples), static_cast<long long>(n));
    }

    // Under the lock; the writer runs until the stop.
    void startWriter(EventStore *store)
    {
        if (thread)
            return;
        stopping = false;
        thread = QThread::create([store] { store->run(); });
        thread->setObjectName(QStringLiteral("event store"));
        thread->start();
    }

    // Under the lock: a root change (tests only) leaves nowhere for what waits to go.
    void followRoot(const QString &root)
    {
        if (root == rootOfPending)
            return;
        if (!pending.empty() || !samples.empty())
            qWarning("Event store: %d events and %d samples for a database that is no longer used dropped",
                int(pending.size()), int(samples.size()));
        dropped += pending.size();
        droppedSamples += samples.size();
        refuseAll();
        rootOfPending = root;
        ++generation;
        failing = false;
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
    d->followRoot(root);
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
    d->startWriter(this);
    d->wake.notify_one();
}

void EventStore::storeSample(const QString &host, const HistorySample &sample)
{
    const QString root = AppPaths::root();
    std::lock_guard<std::mutex> lock(d->mutex);
    d->followRoot(root);
    if (d->samples.size() >= std::size_t(maxPendingSamples))
        d->dropOldestSamples(d->samples.size() - maxPendingSamples + 1);
    d->samples.push_back(Sample {host, sample});
    d->startWriter(this);
    d->wake.notify_one();
}

bool EventStore::flush(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    d->wake.notify_one();
    return d->settled.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return d->isSettled() || d->failing;
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
            const bool settled = d->isSettled();
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
    if (d->waiting()) {
        qWarning("Event store: %d events and %d history samples could not be stored before the end and are lost",
            int(d->pending.size()), int(d->samples.size()));
        d->dropped += d->pending.size();
        d->droppedSamples += d->samples.size();
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
    return int(d->pending.size()) + d->busyRows;
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

int EventStore::pendingSampleCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return int(d->samples.size()) + d->busySamples;
}

quint64 EventStore::droppedSampleCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->droppedSamples;
}

void EventStore::run()
{
    qint64 lastCommit = -commitIntervalMs;
    std::unique_lock<std::mutex> lock(d->mutex);
    for (;;) {
        d->wake.wait(lock, [this] { return d->waiting() || d->stopping; });
        if (!d->waiting() || (d->stopping && d->failing && steadyMs() >= d->stopDeadline))
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
        QVector<Sample> samples;
        samples.reserve(int(d->samples.size()));
        for (Sample &sample : d->samples)
            samples.append(std::move(sample));
        d->pending.clear();
        d->acknowledges.clear();
        d->samples.clear();
        d->busy = true;
        d->busyRows = batch.size();
        d->busySamples = samples.size();
        const quint64 generation = d->generation;
        lock.unlock();

        QString error;
        const bool ok = writeBatch(batch, samples, &error);

        if (ok) {
            // Durable now: the informs among them may be answered.
            for (Acknowledge &acknowledge : acknowledges) {
                if (acknowledge)
                    acknowledge(true);
            }
            if (!batch.isEmpty())
                emit rowsStored(batch);
        }

        lock.lock();
        d->busy = false;
        d->busyRows = 0;
        d->busySamples = 0;
        if (ok) {
            lastCommit = steadyMs();
            d->written += quint64(batch.size());
            if (d->failing) {
                d->failing = false;
                qWarning("Storing events works again; the events kept meanwhile are written");
                emit storingRecovered();
            }
            d->settled.notify_all();
            if (!d->waiting()) {
                lock.unlock();
                emit caughtUp();
                lock.lock();
            }
            continue;
        }
        if (generation != d->generation) {
            d->dropped += quint64(batch.size());
            d->droppedSamples += quint64(samples.size());
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
            d->samples.insert(
                d->samples.begin(), std::make_move_iterator(samples.begin()), std::make_move_iterator(samples.end()));
            if (d->samples.size() > std::size_t(maxPendingSamples))
                d->dropOldestSamples(d->samples.size() - maxPendingSamples);
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

bool EventStore::writeBatch(const QVector<Row> &rows, const QVector<Sample> &samples, QString *error)
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
    if (!writeRows(db, rows, QDateTime::currentSecsSinceEpoch(), error, samples)) {
        d->openPath.clear(); // reopen: a read-only or vanished file may be writable again by then
        return false;
    }
    return true;
}

bool EventStore::writeRows(QSqlDatabase &db, const QVector<Row> &rows, qint64 nowSeconds, QString *error,
    const QVector<Sample> &samples, int historyCap)
{
    auto fail = [&](const QSqlError &e) {
        if (error)
            *error = e.text();
        db.rollback();
        return false;
    };
    if (!db.transaction())
        return fail(db.lastError());
    if (!samples.isEmpty() && !writeSamples(db, samples, nowSeconds, historyCap, error)) {
        db.rollback();
        return false;
    }
    if (rows.isEmpty()) {
        if (!db.commit())
            return fail(db.lastError());
        return true;
    }
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
