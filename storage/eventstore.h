#pragma once

#include "policy/carddetails.h"

#include <QMetaType>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// Stores the events in snmp_event off the GUI thread, so that the lamps, the pop-ups and the protection never
// wait for a flush. Whatever is pending is written together, in one transaction, at most every few tens of
// milliseconds and at once when the writer was idle; WAL with full synchronous commits makes a batch durable
// when its commit returns. While storing fails (locked, read-only, deleted, disk full) the events stay queued
// in memory, up to maxPending, and are written once it works again; an event that carries an acknowledgement
// (an inform) is not kept then but refused, since its sender sends it again until it is acknowledged.
// The cards' minute samples (storeSample) go the same way, in the same transactions, into snmp_history, which
// keeps historyDays and at most maxHistoryRows rows. A sample is worth less than an event: while storing fails
// they wait beside the rows, up to maxPendingSamples of their own, the oldest dropped first; they never take
// the place of an event.
// One process-wide instance, created on first use in the GUI thread. store(), flush(), stop() and the getters
// may be called from any thread; the writer thread alone uses its own connection.
class EventStore : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxPending = 100000;
    static constexpr int commitIntervalMs = 25;
    static constexpr int maxPendingSamples = 20000;
    static constexpr qint64 historyDays = 30;
    // A clock set far back or forward, or a great many cards, still finds the table bounded: about 60 MB.
    static constexpr int maxHistoryRows = 1000000;

    struct Row
    {
        QString host;
        int event = 0;
        qint64 at = 0; // seconds since 1970 when it arrived
    };

    struct Sample
    {
        QString host;
        HistorySample sample;
    };

    // Told once about its row, on the writer thread or in store(): true when the batch holding the row has been
    // committed, false when the row was given up unstored.
    using Acknowledge = std::function<void(bool stored)>;

    // While one lives on a thread, the next store() on that thread takes its acknowledgement: so the listener
    // ties an inform's answer to the row that whoever receives the event stores, without knowing who that is.
    // An acknowledgement nobody took is told true when the scope ends: nothing keeps that event, so there is
    // nothing to wait for.
    class AcknowledgeNext
    {
    public:
        explicit AcknowledgeNext(Acknowledge acknowledge);
        ~AcknowledgeNext();
        AcknowledgeNext(const AcknowledgeNext &) = delete;
        AcknowledgeNext &operator=(const AcknowledgeNext &) = delete;

    private:
        Acknowledge *m_previous;
        Acknowledge m_acknowledge;
    };

    static EventStore *instance();
    ~EventStore() override;

    void store(const QString &host, int event);
    void storeSample(const QString &host, const HistorySample &sample);
    // Waits until everything stored before the call is written; false on a time-out or while storing fails.
    bool flush(int timeoutMs);
    // The same without waiting, for a thread that must go on: done runs on context's thread (which needs an
    // event loop) while context lives, at once or later, with what flush() would have returned. Call it on
    // context's thread.
    void whenFlushed(QObject *context, int timeoutMs, std::function<void(bool written)> done);
    // Writes what it can within timeoutMs, then ends the writer; what is still pending then is dropped and
    // logged. A later store() starts the writer again.
    void stop(int timeoutMs);

    // What is not stored yet, the batch being written included.
    int pendingCount() const;
    bool isFailing() const;
    quint64 droppedCount() const;
    quint64 writtenCount() const;
    int pendingSampleCount() const;
    quint64 droppedSampleCount() const;

    // One transaction on db: the rows with the insert statement of the event table (a row that waited longer
    // than a second, kept through a fault, keeps its arrival second), and the 60001-row cap: before a row
    // goes into a table of more than 60000 rows, every row of the oldest second is deleted. With samples, the
    // samples too, then the history's bounds: what is older than historyDays before nowSeconds or more than a
    // day after it goes, and the oldest minutes beyond historyCap rows.
    static bool writeRows(QSqlDatabase &db, const QVector<Row> &rows, qint64 nowSeconds, QString *error = nullptr,
        const QVector<Sample> &samples = {}, int historyCap = maxHistoryRows);

signals:
    // Emitted on the writer thread: queued to GUI-thread receivers.
    void rowsStored(const QVector<EventStore::Row> &rows); // after each commit, the rows it made durable
    void storingFailed();
    void storingRecovered();
    // Emitted on the writer thread after a batch, when nothing is left to write or storing has failed.
    void caughtUp();

private:
    EventStore();
    void run();
    bool writeBatch(const QVector<Row> &rows, const QVector<Sample> &samples, QString *error);

    struct Private;
    std::unique_ptr<Private> d;
};

Q_DECLARE_METATYPE(EventStore::Row)
