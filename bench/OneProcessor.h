#pragma once

#include <sched.h>

// Pins the calling thread to one processor, so the engine runs there alone; undone when it
// goes out of scope.
class OneProcessor
{
public:
    OneProcessor()
    {
        CPU_ZERO(&saved);
        sched_getaffinity(0, sizeof saved, &saved);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &saved)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OneProcessor() { sched_setaffinity(0, sizeof saved, &saved); }
    OneProcessor(const OneProcessor&) = delete;
    OneProcessor& operator=(const OneProcessor&) = delete;
    static bool several()
    {
        cpu_set_t set;
        return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
    }

private:
    cpu_set_t saved;
};
