#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the editor on SIGTERM, SIGHUP and SIGINT (logout, a closed terminal, Ctrl-C,
// `systemctl --user stop`) and when the display goes away (the X server ends, XKillClient, the
// compositor dies) without losing an edit. The handler only wakes the event loop through a pipe;
// there, outside any handler, every modified document that has a name and a password is written
// to its recovery file, the settings are written, running file work is cancelled (its completion
// boxes never show), and the signal is raised again with its default action, so the program ends
// by it as a shell expects (exit status 143, 129, 130). A lost display ends with status 1.
//
// A logout often sends more than one signal at once (systemd follows SIGTERM with SIGHUP): those
// join the first. Only a signal that comes while the recovery files have been written for longer
// than a couple of seconds (a stuck disk, an impatient user) removes the named temporary files of
// writes still in progress and ends the program at once, still by the first signal. A signal the
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
    // What runs once the toolkit says that the display connection broke, before it ends the
    // program itself: the same, without the display, then exit status 1.
    [[noreturn]] static void endForLostDisplay();

private:
    void wake();
    // Keeps what the windows hold; `displayThere`: the window system may still be talked to.
    static void keepEverything(bool displayThere);

    QSocketNotifier* notifier = nullptr;
};
