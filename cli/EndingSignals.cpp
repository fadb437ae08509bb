#include "EndingSignals.h"

void EndingSignals::catchWith(void (*handler)(int), int flags)
{
    // All saved before the first goes in: the handler may restore them at once.
    for (int i = 0; i < count; ++i)
        sigaction(numbers[i], nullptr, &previous[i]);
    for (int i = 0; i < count; ++i) {
        if (previous[i].sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = handler;
        action.sa_flags = flags;
        sigemptyset(&action.sa_mask);
        for (const int other : numbers)
            sigaddset(&action.sa_mask, other);
        sigaction(numbers[i], &action, nullptr);
    }
}

void EndingSignals::restore()
{
    for (int i = 0; i < count; ++i)
        sigaction(numbers[i], &previous[i], nullptr);
}
