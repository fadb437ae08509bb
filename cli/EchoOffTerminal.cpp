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
    endingSignals.catchWith(&EchoOffTerminal::onSignal, 0);

    struct termios quiet = savedSettings;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    // As getpass does: what was typed before the change is dropped, so nothing typed ahead
    // (shown on the screen as it was typed) becomes part of the password.
    isActive = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    if (!isActive) {
        terminalFd = -1;
        endingSignals.restore();
    }
}

EchoOffTerminal::~EchoOffTerminal()
{
    if (!isActive)
        return;
    restore();
    terminalFd = -1;
    endingSignals.restore();
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
