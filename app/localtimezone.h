#pragma once

// Qt asks the C library to re-read the time zone before every local-time conversion; with TZ unset that is a
// look at /etc/localtime per stored event and per row. Naming the file in TZ lets the library keep what it read.
// A change of the machine's zone then takes effect at the next start. Before any thread starts.
void pinLocalTimeZone();
