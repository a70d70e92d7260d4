#pragma once

#include "storage/eventstore.h"

#include <QVector>

// The stored events and the cards' history as a reader of the log sees them, through the GUI thread's connection. Call
// them once the event store has written what it holds (EventStore::whenFlushed), or a row just announced may be
// missing.
namespace EventLog {
// The events whose time lies in from..to (seconds since 1970), newest first; false when they cannot be read.
bool range(qint64 from, qint64 to, QVector<EventStore::Row> *rows);
// The card's samples whose minute lies in from..to, oldest first; false when they cannot be read.
bool history(const QString &host, qint64 from, qint64 to, QVector<HistorySample> *samples);
// Deletes every stored event and starts the numbering again; false when they cannot be deleted.
bool clear();
} // namespace EventLog
