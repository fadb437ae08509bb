#include "CancelOnSignal.h"

#include "EndingSignals.h"
#include "encryption/StreamProgress.h"
#include "files/TemporaryFiles.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace {

// Read by the signal handler, so plain globals of types it may touch.
std::atomic<StreamProgress*> cancelled{nullptr};
volatile sig_atomic_t caught = 0;
volatile sig_atomic_t installed = 0;
EndingSignals endingSignals;

static_assert(std::atomic<StreamProgress*>::is_always_lock_free);

} // namespace

CancelOnSignal::CancelOnSignal(StreamProgress& progress)
{
    if (installed)
        return;
    active = true;
    caught = 0;
    cancelled = &progress;
    installed = 1;
    // Reads and writes go on after the handler; the cancel is seen before the next read.
    endingSignals.catchWith(&CancelOnSignal::onSignal, SA_RESTART);
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
    endingSignals.restore();
}

void CancelOnSignal::onSignal(int signalNumber)
{
    // Only async-signal-safe calls and lock-free atomics from here on.
    if (caught != 0) {
        TemporaryFiles::unlinkAll();
        restore();
        // Blocked while this handler runs: it ends the program as the handler returns.
        raise(signalNumber);
        return;
    }
    caught = signalNumber;
    if (StreamProgress* progress = cancelled.load())
        progress->cancel();
}
