#pragma once

#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// What a network UPS server said when asked once about its UPS.
struct NutAnswer
{
    enum Outcome
    {
        Answered,
        Refused,
        Unreachable,
        NoAnswer,
        ServerError
    };
    Outcome outcome = NoAnswer;
    // Answered: the status flags, charge and model as the server gave them (charge and model may be empty).
    QString status;
    QString charge;
    QString model;
    // ServerError: the protocol's error word (UNKNOWN-UPS, ACCESS-DENIED, DATA-STALE, ...); Refused and
    // Unreachable: the socket's reason.
    QString error;
};

// Asks a network UPS server once for its UPS's status, charge and model, without logging in, on a socket of its
// own that never waits: the answer comes through the event loop. Bounded in time. GUI thread.
namespace NutQuery {

inline constexpr int timeoutMs = 5000;

// done is called once, in context's thread, unless context is gone first.
void start(const SNMPInfo &server, QObject *context, std::function<void(const NutAnswer &)> done);

} // namespace NutQuery
