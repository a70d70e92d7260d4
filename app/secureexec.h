#pragma once

// The program file holds cap_net_bind_service, so the kernel starts it in secure-execution mode. The dynamic
// loader then ignores LD_PRELOAD and friends, but Qt, GTK, GIO and Mesa still read their own variables that
// name code to load, and Qt takes plugin paths and a style from the command line. In that mode all of it is
// dropped here, before the QApplication exists. Without raised privileges nothing changes.
bool runsWithRaisedPrivileges();
void dropCodeLoadingEnvironment(int &argc, char **argv);
