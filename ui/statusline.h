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
// m:ss, as the countdown is shown in the status bar too.
QString clock(qint64 remainingMs);

} // namespace StatusLine
