#include "app/filelimit.h"

#include "policy/applicationtrust.h"

#include <sys/resource.h>

void raiseOpenFileLimit()
{
    rememberStartOpenFileLimit(); // the shutdown application gets this one back
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}
