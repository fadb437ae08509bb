#pragma once

#include <csignal>

// The signals by which a program is ended from outside (Ctrl-C, termination, hang-up, quit),
// caught by one handler until restore(). A signal the caller chose to ignore stays ignored.
class EndingSignals
{
public:
    // Installs `handler` for each of them, the others blocked while it runs.
    void catchWith(void (*handler)(int), int flags);
    // Puts the previous handling back. Async-signal-safe.
    void restore();

private:
    static constexpr int numbers[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    static constexpr int count = sizeof numbers / sizeof numbers[0];
    struct sigaction previous[count];
};
