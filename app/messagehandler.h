#pragma once

#include <QMutex>
#include <QtGlobal>

// Serialises every append to the day's log file; built before main runs.
extern QMutex logMutex;

// Appends every diagnostic message of the program, from any thread, to yyyyMMdd.log in AppPaths::logDir().
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// The service also writes every message to the standard error, where the journal takes it, with the syslog
// priority prefix systemd reads ("<4>" for a warning).
void copyMessagesToStandardError(bool copy);
