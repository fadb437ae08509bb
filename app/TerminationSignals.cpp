#include "TerminationSignals.h"

#include "app/VarniskApplication.h"
#include "files/TemporaryFiles.h"
#include "mainwindow/Varnisk.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int signalNumbers[] = {SIGTERM, SIGHUP, SIGINT};
// How long running file work may take to clean up after its cancel, all windows together.
constexpr int cancelWaitMs = 3000;

// Touched by the handler: a pipe and a lock-free atomic only.
int wakePipe[2] = {-1, -1};
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    int none = 0;
    if (!caught.compare_exchange_strong(none, signalNumber)) {
        // The event loop has not finished with the first one. Nothing named that holds a part
        // of a file may stay behind; then end as the signal would.
        TemporaryFiles::unlinkAll();
        signal(signalNumber, SIG_DFL);
        raise(signalNumber); // delivered once this handler returns
        errno = savedErrno;
        return;
    }
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t ignored = write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

QList<Varnisk*> editorWindows()
{
    QList<Varnisk*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Varnisk*>(widget))
            windows << window;
    }
    return windows;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("varnisk: no pipe for signals");
        return;
    }
    notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::wake);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : signalNumbers)
        sigaddset(&action.sa_mask, number);
    for (const int number : signalNumbers) {
        struct sigaction previous = {};
        sigaction(number, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN)
            sigaction(number, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    for (const int number : signalNumbers) {
        struct sigaction current = {};
        sigaction(number, nullptr, &current);
        if (current.sa_handler == onSignal)
            signal(number, SIG_DFL);
    }
    delete notifier;
    for (int& fd : wakePipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

void TerminationSignals::wake()
{
    char byte = 0;
    if (read(wakePipe[0], &byte, 1) != 1 || caught.load() == 0)
        return;
    endBySignal(caught.load());
}

void TerminationSignals::endBySignal(int signalNumber)
{
    // No dialogs from here on: nobody may be there to answer them. Recovery files first, as
    // they matter most and the time left may be short.
    const QList<Varnisk*> windows = editorWindows();
    for (Varnisk* window : windows)
        window->writeRecovery();
    for (Varnisk* window : windows)
        window->writeSettings();
    if (VarniskApplication* application = VarniskApplication::instance())
        application->restoreKeyboard();
    const QDeadlineTimer deadline(cancelWaitMs);
    for (Varnisk* window : windows)
        window->cancelFileWork(deadline);
    // Work that did not end in time leaves no named part of a file behind.
    TemporaryFiles::unlinkAll();
    std::fflush(stderr);
    signal(signalNumber, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signalNumber);
    std::_Exit(128 + signalNumber);
}
