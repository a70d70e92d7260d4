#pragma once

class QObject;

// Qt asks the C library to re-read the time zone before every local-time conversion; with TZ unset that is a
// look at /etc/localtime per stored event and per row. Naming the file in TZ lets the library keep what it read.
// Before any thread starts.
void pinLocalTimeZone();

// Once the application object exists: when the zone file named in TZ is replaced or rewritten, the library
// reads it again, so a long-running process follows a change of the machine's zone. GUI thread.
void followLocalTimeZone(QObject *owner);
