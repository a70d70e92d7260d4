#pragma once

// Asks the operating system to power the machine off, forced, and returns at once. Reports nothing to the
// user; the caller does not learn whether the request was accepted.
void shutdownSystem();
