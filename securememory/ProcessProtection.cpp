#include "ProcessProtection.h"

#include <sys/prctl.h>
#include <sys/resource.h>

void ProcessProtection::apply() noexcept
{
    // Neither call can fail for a process that lowers its own limits and flags, so there is
    // nothing to report. The hard limit goes to 0 as well: nothing later raises it again.
    const struct rlimit noCoreFile = {0, 0};
    setrlimit(RLIMIT_CORE, &noCoreFile);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}
