#include "CancelOnSignal.h"

#include "StreamProgress.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace {

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int signalCount = sizeof handledSignals / sizeof handledSignals[0];

// Read by the signal handler, so plain globals of types it may touch.
std::atomic<StreamProgress*> cancelled{nullptr};
volatile sig_atomic_t caught = 0;
volatile sig_atomic_t installed = 0;
struct sigaction previous[signalCount];

static_assert(std::atomic<StreamProgress*>::is_always_lock_free);

} // namespace

CancelOnSignal::CancelOnSignal(StreamProgress& progress)
{
    if (installed)
        return;
    active = true;
    caught = 0;
    cancelled = &progress;
    for (int i = 0; i < signalCount; ++i)
        sigaction(handledSignals[i], nullptr, &previous[i]);
    installed = 1;
    for (int i = 0; i < signalCount; ++i) {
        if (previous[i].sa_handler == SIG_IGN)
            continue; // a signal the caller chose to ignore stays ignored
        struct sigaction action = {};
        action.sa_handler = &CancelOnSignal::onSignal;
        sigemptyset(&action.sa_mask);
        for (const int other : handledSignals)
            sigaddset(&action.sa_mask, other);
        // Reads and writes go on after the handler; the cancel is seen before the next read.
        action.sa_flags = SA_RESTART;
        sigaction(handledSignals[i], &action, nullptr);
    }
}

CancelOnSignal::~CancelOnSignal()
{
    if (!active)
        return;
    restore();
    cancelled = nullptr;
}

void CancelOnSignal::raiseCaught()
{
    const int signalNumber = caught;
    if (!active || signalNumber == 0)
        return;
    restore();
    raise(signalNumber);
    // The caller's own handler took it and returned: end as a shell reports such a signal.
    std::_Exit(128 + signalNumber);
}

void CancelOnSignal::restore()
{
    if (!installed)
        return;
    installed = 0;
    for (int i = 0; i < signalCount; ++i)
        sigaction(handledSignals[i], &previous[i], nullptr);
}

void CancelOnSignal::onSignal(int signalNumber)
{
    // Only async-signal-safe calls and lock-free atomics from here on.
    caught = signalNumber;
    if (StreamProgress* progress = cancelled.load())
        progress->cancel();
    restore();
}
