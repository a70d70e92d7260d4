#pragma once

#include "policy/systemmessages.h"

#include <QString>

#include <functional>

class QObject;

// Why the machine cannot be powered off; the detail is logind's or the bus's own words.
enum class ShutdownProblem
{
    NoSystemBus,
    NoAnswer,
    NotPermitted,
    Refused
};
using ShutdownProblemHandler = std::function<void(ShutdownProblem problem, const QString &detail)>;

// Asks the operating system to power the machine off, forced, and returns at once. A request that cannot
// happen is logged and, while context lives, handed to onProblem on the GUI thread. GUI thread only.
void shutdownSystem(QObject *context = nullptr, ShutdownProblemHandler onProblem = {});

// Asks, without waiting, whether an unattended power-off would be allowed (logind's CanPowerOff, which powers
// nothing off), so that a missing right shows while the user sets up, not during an outage. Reports only a
// problem. Does nothing while a backend replaces the request.
void checkPowerOffRight(QObject *context, ShutdownProblemHandler onProblem);

// The text the window shows for a problem, in its "System" row.
SystemMessage shutdownProblemMessage(ShutdownProblem problem, const QString &detail);
QString shutdownProblemText(ShutdownProblem problem, const QString &detail);

// Replaces what shutdownSystem() does for the rest of the process (an empty function restores the real
// request). For demonstrations and tests only; the program itself never calls it.
void setShutdownBackend(std::function<void()> backend);
