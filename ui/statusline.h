#pragma once

#include "backend/protectionbackend.h"

#include <QList>
#include <QString>

// The one line above the host list that says whether this machine is protected, computed from what the
// backend knows only, so that the window alone and the service's front end say the same. No widgets; any thread
// that owns the inputs.
namespace StatusLine {

enum class Level
{
    Protected,
    Waiting,
    Warning,
    Danger
};

// What the tray icon shows: the machine protected, a card in trouble (on battery, offline, not reported yet), a
// shutdown counting down, or nothing that would shut it down in time.
enum class Tray
{
    Protected,
    Trouble,
    Countdown,
    NotProtected
};

struct Input
{
    bool reachable = true;
    QList<CardState> cards;
    qint64 countdownMs = -1;
    SystemMessage refusal;
};

struct Line
{
    Level level = Level::Protected;
    QString text;
};

Input of(const ProtectionBackend &backend);
// In the current language.
Line compute(const Input &input);
Tray trayState(const Input &input);
// The same in one short line for the tray's tooltip, e.g. "3 cards: 2 online, 1 on battery — shutdown in 29:54".
QString summary(const Input &input);
// m:ss, as the countdown is shown in the status bar too.
QString clock(qint64 remainingMs);

} // namespace StatusLine
