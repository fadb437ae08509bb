#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the editor on SIGTERM, SIGHUP and SIGINT (logout, a closed terminal, Ctrl-C,
// `systemctl --user stop`) without losing an edit. The handler only wakes the event loop through
// a pipe; there, outside any handler, every modified document that has a name and a password is
// written to its recovery file, the settings are written, running file work is cancelled (its
// completion boxes never show), and the signal is raised again with its default action, so the
// program ends by it as a shell expects (exit status 143, 129, 130).
//
// A second signal that comes while this runs (a stuck disk, an impatient user) removes the
// named temporary files of writes still in progress and ends the program at once. A signal the
// program was started to ignore (nohup) stays ignored. One object per process.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // What runs in the event loop once a signal came; ends the process by `signalNumber`.
    [[noreturn]] static void endBySignal(int signalNumber);

private:
    void wake();

    QSocketNotifier* notifier = nullptr;
};
