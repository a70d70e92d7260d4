#pragma once

#include "backend/protectionbackend.h"

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QVector>

// The structs of the bus interface, as the XML spells them: a card's state (sibay), a stored card without its
// secrets (siiiibbb), a stored event (xsi), a card's details (sxsiiiiiiiii) and a minute of its history (xiiii). The
// service and its front ends marshal through these alone.
QDBusArgument &operator<<(QDBusArgument &argument, const CardState &card);
const QDBusArgument &operator>>(const QDBusArgument &argument, CardState &card);
// Secrets go in, never out: only the flags say which of them are stored; read back, the info has none.
QDBusArgument &operator<<(QDBusArgument &argument, const StoredCard &card);
const QDBusArgument &operator>>(const QDBusArgument &argument, StoredCard &card);
QDBusArgument &operator<<(QDBusArgument &argument, const StoredEvent &event);
const QDBusArgument &operator>>(const QDBusArgument &argument, StoredEvent &event);
QDBusArgument &operator<<(QDBusArgument &argument, const CardDetails &details);
const QDBusArgument &operator>>(const QDBusArgument &argument, CardDetails &details);
QDBusArgument &operator<<(QDBusArgument &argument, const HistorySample &sample);
const QDBusArgument &operator>>(const QDBusArgument &argument, HistorySample &sample);

// Makes the types above known to Qt's meta types and to Qt D-Bus; before the first call or signal that
// carries one. Any number of times, from any thread.
void registerBusTypes();

Q_DECLARE_METATYPE(CardState)
Q_DECLARE_METATYPE(StoredCard)
Q_DECLARE_METATYPE(StoredEvent)
Q_DECLARE_METATYPE(QList<CardState>)
Q_DECLARE_METATYPE(QList<StoredCard>)
Q_DECLARE_METATYPE(QVector<StoredEvent>)
Q_DECLARE_METATYPE(QList<CardDetails>)
Q_DECLARE_METATYPE(QVector<HistorySample>)
