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
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int signalNumbers[] = {SIGTERM, SIGHUP, SIGINT};
// How long running file work may take to clean up after its cancel, all windows together.
constexpr int cancelWaitMs = 3000;
// A signal that comes this long after the recovery files began to be written is an impatient
// one: it ends the program at once.
constexpr qint64 patienceNs = qint64(2) * 1000 * 1000 * 1000;

// Touched by the handler: a pipe and lock-free atomics only.
int wakePipe[2] = {-1, -1};
std::atomic<int> caught{0};
std::atomic<qint64> keepingSince{0}; // CLOCK_MONOTONIC; 0 until the recovery files are begun
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<qint64>::is_always_lock_free);

qint64 monotonicNs() noexcept
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now); // async-signal-safe
    return qint64(now.tv_sec) * 1000 * 1000 * 1000 + now.tv_nsec;
}

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    int first = 0;
    if (caught.compare_exchange_strong(first, signalNumber)) {
        const char byte = static_cast<char>(signalNumber);
        [[maybe_unused]] const ssize_t ignored = write(wakePipe[1], &byte, 1);
    } else if (const qint64 since = keepingSince.load();
               since != 0 && monotonicNs() - since > patienceNs && first > 0) {
        // Nothing named that holds a part of a file may stay behind; then end as the first
        // signal would (it is blocked until this handler returns).
        TemporaryFiles::unlinkAll();
        signal(first, SIG_DFL);
        raise(first);
    }
    // Any other joins the first: the event loop is on its way to keep the edits.
    errno = savedErrno;
}

// Qt ends the program itself when its display connection breaks, and says so first through
// the message handler; these are its words for that (Qt 5 and 6, X11 and Wayland).
bool saysDisplayLost(const QString& message)
{
    return message.startsWith(QLatin1String("The X11 connection broke")) ||
           message.startsWith(QLatin1String("The Wayland connection broke")) ||
           message.startsWith(QLatin1String("The Wayland connection experienced a fatal error"));
}

QtMessageHandler previousHandler = nullptr;

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    previousHandler(type, context, message);
    if (type != QtDebugMsg && type != QtInfoMsg && saysDisplayLost(message))
        TerminationSignals::endForLostDisplay();
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
    previousHandler = qInstallMessageHandler(onMessage);
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
    if (previousHandler != nullptr)
        qInstallMessageHandler(previousHandler);
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
    if (read(wakePipe[0], &byte, 1) != 1 || caught.load() <= 0)
        return;
    endBySignal(caught.load());
}

void TerminationSignals::endBySignal(int signalNumber)
{
    keepEverything(true);
    signal(signalNumber, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signalNumber);
    std::_Exit(128 + signalNumber);
}

void TerminationSignals::endForLostDisplay()
{
    // A signal that came first keeps its say over the exit status; later ones join this.
    int first = 0;
    caught.compare_exchange_strong(first, -1);
    keepEverything(false);
    if (first > 0)
        endBySignal(first);
    std::_Exit(1);
}

void TerminationSignals::keepEverything(bool displayThere)
{
    // Once only: a display lost while a signal's recovery files are written (Qt may say so from
    // within) lets that finish.
    static bool begun = false;
    if (std::exchange(begun, true))
        return;
    // No dialogs from here on: nobody may be there to answer them. Recovery files first, as
    // they matter most and the time left may be short.
    keepingSince.store(monotonicNs());
    const QList<Varnisk*> windows = editorWindows();
    for (Varnisk* window : windows)
        window->writeRecovery();
    for (Varnisk* window : windows)
        window->writeSettings();
    // Spare keys left mapped on a display that is gone are taken back by the next start.
    VarniskApplication* application = VarniskApplication::instance();
    if (displayThere && application != nullptr)
        application->restoreKeyboard();
    const QDeadlineTimer deadline(cancelWaitMs);
    for (Varnisk* window : windows)
        window->cancelFileWork(deadline);
    // Work that did not end in time leaves no named part of a file behind.
    TemporaryFiles::unlinkAll();
    std::fflush(stderr);
}
