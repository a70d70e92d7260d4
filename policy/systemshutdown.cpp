#include "policy/systemshutdown.h"

// Placeholder until the logind layer lands: does nothing, so nothing can power the machine off.
void shutdownSystem() { }
