#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool readable(int fd, int timeoutMs)
{
    struct pollfd entry = {fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

} // namespace

ChildProcess::~ChildProcess()
{
    if (child > 0 && !ended) {
        kill(child, SIGKILL);
        // A traced child stops once more on its way out, and a held one waits to be let go.
        if (held)
            ptrace(PTRACE_CONT, child, nullptr, nullptr);
        int status = 0;
        while (waitpid(child, &status, 0) == child && WIFSTOPPED(status))
            ptrace(PTRACE_CONT, child, nullptr, nullptr);
    }
    for (const int fd : {input, output, terminalMaster}) {
        if (fd >= 0)
            close(fd);
    }
}

bool ChildProcess::start(const QString& program, const QStringList& arguments,
                         const Options& options)
{
    // Everything the child needs is prepared here: between fork and exec it may only make
    // system calls.
    QList<QByteArray> words{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        words << QFile::encodeName(argument);
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int inputPipe[2];
    int outputPipe[2] = {-1, -1};
    if (pipe2(inputPipe, O_CLOEXEC) != 0)
        return false;
    if (!options.discardOutput && pipe2(outputPipe, O_CLOEXEC) != 0)
        return false;
    QByteArray terminalName;
    if (options.terminal) {
        terminalMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminalMaster < 0 || grantpt(terminalMaster) != 0 || unlockpt(terminalMaster) != 0)
            return false;
        terminalName = ptsname(terminalMaster);
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const struct passwd* nobody = options.asNobody && geteuid() == 0 ? getpwnam("nobody") : nullptr;
    const uid_t nobodyUser = nobody != nullptr ? nobody->pw_uid : 0;
    const gid_t nobodyGroup = nobody != nullptr ? nobody->pw_gid : 0;

    child = fork();
    if (child == 0) {
        if (options.holdAtExit)
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        if (options.terminal) {
            // A new session without a terminal: the first terminal it opens becomes its own.
            setsid();
            const int terminal = open(terminalName.constData(), O_RDWR);
            if (terminal < 0)
                _exit(126);
            if (options.errorsToTerminal)
                dup2(terminal, STDERR_FILENO);
        }
        if (nobody != nullptr &&
            (setgroups(0, nullptr) != 0 || setgid(nobodyGroup) != 0 || setuid(nobodyUser) != 0))
            _exit(125);
        dup2(inputPipe[0], STDIN_FILENO);
        dup2(options.discardOutput ? devNull : outputPipe[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(devNull);
    close(inputPipe[0]);
    input = inputPipe[1];
    if (!options.discardOutput) {
        close(outputPipe[1]);
        output = outputPipe[0];
    }
    if (child < 0)
        return false;
    if (options.holdAtExit) {
        // The child stops at its exec; from then on it also stops once more as it exits.
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFSTOPPED(status))
            return false;
        traced = true;
        ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
        ptrace(PTRACE_CONT, child, nullptr, nullptr);
    }
    return true;
}

bool ChildProcess::writeInput(const QList<QByteArray>& pieces)
{
    for (const QByteArray& piece : pieces) {
        qint64 done = 0;
        while (done < piece.size()) {
            const ssize_t count = write(input, piece.constData() + done,
                                        static_cast<std::size_t>(piece.size() - done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return false;
            done += count;
        }
    }
    return true;
}

void ChildProcess::closeInput()
{
    if (input >= 0)
        close(input);
    input = -1;
}

QByteArray ChildProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!outputBuffer.contains('\n')) {
        if (output < 0 || !readable(output, static_cast<int>(deadline.remainingTime())))
            return {};
        char chunk[4096];
        const ssize_t count = read(output, chunk, sizeof chunk);
        if (count <= 0)
            return {};
        outputBuffer.append(chunk, static_cast<int>(count));
    }
    const int end = outputBuffer.indexOf('\n');
    const QByteArray line = outputBuffer.left(end);
    outputBuffer.remove(0, end + 1);
    return line;
}

bool ChildProcess::readTerminal(int timeoutMs)
{
    if (!readable(terminalMaster, timeoutMs))
        return false;
    char chunk[4096];
    const ssize_t count = read(terminalMaster, chunk, sizeof chunk);
    if (count <= 0)
        return false;
    terminalOutput.append(chunk, static_cast<int>(count));
    return true;
}

bool ChildProcess::answerPrompt(const QByteArray& prompt, const QList<QByteArray>& pieces,
                                int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (terminalOutput.indexOf(prompt, answered) < 0) {
        if (deadline.hasExpired() || !readTerminal(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    answered = terminalOutput.indexOf(prompt, answered) + prompt.size();
    // The prompt comes before the echo goes off: typing earlier would show the password.
    for (;;) {
        struct termios settings = {};
        if (tcgetattr(terminalMaster, &settings) == 0 && (settings.c_lflag & ECHO) == 0)
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    QList<QByteArray> typed = pieces;
    typed << QByteArray("\n");
    for (const QByteArray& piece : qAsConst(typed)) {
        if (write(terminalMaster, piece.constData(), static_cast<std::size_t>(piece.size())) !=
            piece.size())
            return false;
    }
    return true;
}

bool ChildProcess::typeAfter(const QByteArray& text, const QByteArray& keys, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (terminalOutput.indexOf(text, answered) < 0) {
        if (!readTerminal(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    answered = terminalOutput.indexOf(text, answered) + text.size();
    return write(terminalMaster, keys.constData(), static_cast<std::size_t>(keys.size())) ==
           keys.size();
}

void ChildProcess::readTerminalToEnd(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (readTerminal(static_cast<int>(deadline.remainingTime()))) {
    }
}

bool ChildProcess::terminalEchoes() const
{
    struct termios settings = {};
    return tcgetattr(terminalMaster, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

bool ChildProcess::waitUntilReadingInput(int timeoutMs)
{
    // /proc/PID/syscall starts with the call's number and first argument: read(0, ...).
    const QString path = QStringLiteral("/proc/%1/syscall").arg(child);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll().startsWith("0 0x0 "))
            return true;
        QThread::msleep(5);
    }
    return false;
}

bool ChildProcess::handleStop(int status)
{
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
        ended = true;
        endStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return false;
    }
    if (WIFSTOPPED(status)) {
        if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            held = true;
            return true;
        }
        // Any other stop is a signal on its way to the child: pass it on.
        const int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
        ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
    }
    return true;
}

bool ChildProcess::waitUntilHeldAtExit(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (traced && !held && !ended && !deadline.hasExpired()) {
        int status = 0;
        const pid_t changed = waitpid(child, &status, WNOHANG);
        if (changed == child)
            handleStop(status);
        else
            QThread::msleep(5);
    }
    return held;
}

int ChildProcess::finish(int timeoutMs)
{
    closeInput();
    if (held) {
        held = false;
        ptrace(PTRACE_CONT, child, nullptr, nullptr);
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!ended) {
        int status = 0;
        const pid_t changed = waitpid(child, &status, WNOHANG);
        if (changed == child) {
            if (handleStop(status) && held) {
                held = false;
                ptrace(PTRACE_CONT, child, nullptr, nullptr);
            }
        } else if (deadline.hasExpired()) {
            return -1000;
        } else {
            QThread::msleep(5);
        }
    }
    return endStatus;
}

bool ChildProcess::running()
{
    int status = 0;
    if (!ended && child > 0 && waitpid(child, &status, WNOHANG) == child)
        handleStop(status);
    return !ended;
}
