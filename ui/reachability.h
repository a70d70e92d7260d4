#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Whether an address answers a ping, through the system's ping program found on PATH. GUI thread: the probe
// blocks in waits of up to 30 s and only processes pending events between chunks of output.
namespace Reachability {

inline constexpr int WaitMs = 30000;

QString program();
// iputils' ping runs until stopped when given only an address, so a count and a per-reply wait go first.
QStringList arguments(const QString &address);
// A reply line carries "ttl=" (iputils, lower case) or "TTL=" (other pings); any case counts.
bool showsReply(const QByteArray &output);

// Runs ping on the address and reads its output until a reply shows up or the program falls silent, then
// waits for it to end. A program that cannot be started counts as no reply.
bool answersPing(const QString &address);

} // namespace Reachability
