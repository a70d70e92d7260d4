#pragma once

#include "policy/carddetails.h"
#include "policy/cardstate.h"

#include <QList>
#include <QPair>
#include <QString>

// A listed card as a UPS of the network UPS protocol: its name, description and variables, from what the
// backend knows of it. Plain functions; any thread.
namespace NutUps {

using Variable = QPair<QString, QString>; // name, value

// "ups-192-168-1-30" for 192.168.1.30; an IPv6 address's colons become dashes too.
QString nameOf(const QString &host);
// The card's model, or upsd's word for a UPS without a description.
QString description(const CardDetails &details);
// Offline, or not reported yet: what it last said is no longer true (or never was).
bool isStale(const CardState &card);
// The variables the card's last report and details give, in the protocol's order of a listing; the absent ones
// are left out. A forced shutdown raised on the UPS adds FSD to its status.
QList<Variable> variables(const CardState &card, const CardDetails &details, bool forced = false);
// upsd's text for a variable, or empty for one it does not describe.
QString describe(const QString &variable);
// Whether the variable is a number (GET TYPE says NUMBER) rather than a string.
bool isNumber(const QString &variable);

} // namespace NutUps
