#pragma once

class StreamProgress;

// While it lives, Ctrl-C, hang-up, termination and quit cancel a stream instead of ending the
// program at once, so that the output is removed as after any failure (a temporary file that
// has a name included) and a progress line is ended; raiseCaught() then ends the program by
// that signal, as it would have ended. A second signal ends the program at once (a cancel waits
// for a read in progress, and a silent pipe may never finish one), after removing the named
// temporary files of the writes in progress. One at a time per process.
class CancelOnSignal
{
public:
    explicit CancelOnSignal(StreamProgress& progress);
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;

    // Ends the program by the signal that came, if one came; returns otherwise.
    void raiseCaught();

private:
    static void restore();
    static void onSignal(int signalNumber);

    bool active = false; // false for a second one while the first lives
};
