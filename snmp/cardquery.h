#pragma once

#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

// What one GET of a card's model and polled objects told.
struct CardAnswer
{
    enum Outcome
    {
        Answered, // every polled object came with a value
        NoSuchObject, // the card answered, but without some of the polled objects (see missing)
        NoAnswer, // nothing came back in time: for v1/v2c also a wrong community, for v3 a wrong privacy
                  // pass phrase (snmpd then drops the request without a report)
        AuthenticationFailure, // v3: the card's digest check failed (pass phrase or authentication type)
        DecryptionFailure, // v3: a card that reports it could not decrypt (privacy pass phrase or type)
        UnknownUser, // v3: the card knows no such user
        UnsupportedSecurityLevel, // v3: the user exists, not with this security level
        Unusable, // no request could be sent (see detail)
    };
    Outcome outcome = NoAnswer;
    QString model; // UPS-MIB's upsIdentModel, else the vendor's model; empty when the card has neither
    QByteArray data; // the polled values with their known mask, as a poll answer's (Snmp::DataArraySize)
    QVector<int> missing; // Snmp::DataIndex of the polled objects the answer lacked
    QString detail; // the library's words, for Unusable
};

// One request to a card with settings that need not be stored: the answer proves them or names why they fail.
// It uses a session of its own and never touches the engine's: the library's process-wide v3 user of the same
// card and name is set aside while the query's own keys are in use. ask() blocks for up to the time-out and its
// retries, so it runs on a worker thread; start() runs it there and hands the answer to done on context's
// thread, unless context is gone by then.
class CardQuery
{
public:
    static constexpr int defaultTimeoutMs = 1500;
    static constexpr int defaultRetries = 1;

    static CardAnswer ask(const SNMPInfo &card, int timeoutMs = defaultTimeoutMs, int retries = defaultRetries);
    static void start(const SNMPInfo &card, QObject *context, std::function<void(const CardAnswer &)> done);

    // Queries started and not yet answered; for tests. A query thread still running when the application object
    // goes is waited for.
    static int running();
};
