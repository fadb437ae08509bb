#include "EchoOffTerminal.h"

#include <unistd.h>

namespace {

// Read by the signal handler, so plain globals of types it may touch.
volatile sig_atomic_t terminalFd = -1;
struct termios savedSettings;

} // namespace

EchoOffTerminal::EchoOffTerminal(int fd)
{
    if (terminalFd >= 0 || tcgetattr(fd, &savedSettings) != 0)
        return;
    terminalFd = fd;

    // The handlers go in first: a signal between the change and them would leave echo off.
    for (std::size_t i = 0; i < sizeof handledSignals / sizeof handledSignals[0]; ++i) {
        sigaction(handledSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_IGN)
            continue; // a signal the caller chose to ignore stays ignored
        struct sigaction action = {};
        action.sa_handler = &EchoOffTerminal::onSignal;
        sigemptyset(&action.sa_mask);
        for (const int other : handledSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(handledSignals[i], &action, nullptr);
    }

    struct termios quiet = savedSettings;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    isActive = tcsetattr(fd, TCSANOW, &quiet) == 0;
    if (!isActive) {
        terminalFd = -1;
        for (std::size_t i = 0; i < sizeof handledSignals / sizeof handledSignals[0]; ++i)
            sigaction(handledSignals[i], &previous[i], nullptr);
    }
}

EchoOffTerminal::~EchoOffTerminal()
{
    if (!isActive)
        return;
    restore();
    terminalFd = -1;
    for (std::size_t i = 0; i < sizeof handledSignals / sizeof handledSignals[0]; ++i)
        sigaction(handledSignals[i], &previous[i], nullptr);
}

void EchoOffTerminal::restore()
{
    const int fd = terminalFd;
    if (fd < 0)
        return;
    tcsetattr(fd, TCSANOW, &savedSettings);
    // The user's Enter was not echoed either; end the prompt's line.
    const char newline = '\n';
    [[maybe_unused]] const ssize_t written = write(fd, &newline, 1);
}

void EchoOffTerminal::onSignal(int signalNumber)
{
    // Only async-signal-safe calls from here on.
    restore();
    terminalFd = -1;
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}
