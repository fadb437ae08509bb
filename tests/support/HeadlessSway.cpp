#include "HeadlessSway.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// wtype sends its keymap right before its first key; clients need a moment to take it.
constexpr int keymapPauseMs = 300;

// Ends a process: politely, then for sure.
void stopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    const QDeadlineTimer deadline(3000);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        QThread::msleep(10);
    }
}

// The nodes of sway's tree that are windows, depth first.
void windows(const QJsonObject& node, QVector<QJsonObject>& found)
{
    if (node.contains(QLatin1String("pid")))
        found.append(node);
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue child : node.value(QLatin1String(key)).toArray())
            windows(child.toObject(), found);
    }
}

} // namespace

HeadlessSway::HeadlessSway(bool withXwayland)
    : xwayland(withXwayland), directory(QDir::tempPath() + QStringLiteral("/varnisk-sway-XXXXXX"))
{}

HeadlessSway::~HeadlessSway()
{
    for (pid_t client : clients)
        stopProcess(client);
    stopProcess(sway);
}

QString HeadlessSway::folder() const
{
    return directory.filePath(QStringLiteral("files"));
}

bool HeadlessSway::start()
{
    if (!directory.isValid()) {
        failure = QStringLiteral("no temporary folder");
        return false;
    }
    dropPrivileges = geteuid() == 0;
    uid = geteuid();
    gid = getegid();
    if (dropPrivileges) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) {
            failure = QStringLiteral("no user 'nobody' to run sway as");
            return false;
        }
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    const QString top = directory.path();
    for (const char* name : {"", "/runtime", "/home", "/files"}) {
        const QByteArray path = QFile::encodeName(top + QLatin1String(name));
        if ((name[0] != '\0' && mkdir(path.constData(), 0700) != 0) ||
            chown(path.constData(), uid, gid) != 0 || chmod(path.constData(), 0700) != 0) {
            failure = QStringLiteral("cannot prepare %1").arg(QString::fromLocal8Bit(path));
            return false;
        }
    }
    QByteArray config = "output HEADLESS-1 resolution 1280x800\n"
                        // Type Selection under XWayland activates X11 windows on request.
                        "focus_on_window_activation focus\n";
    config += xwayland ? "xwayland enable\n" : "xwayland disable\n";
    TestSupport::writeFile(top + QStringLiteral("/sway.conf"), config);

    const QByteArray runtime = QFile::encodeName(top + QStringLiteral("/runtime"));
    environment = {"PATH=/usr/local/bin:/usr/bin:/bin",
                   "HOME=" + QFile::encodeName(top + QStringLiteral("/home")),
                   "XDG_RUNTIME_DIR=" + runtime,
                   "LANG=C.UTF-8",
                   "WLR_BACKENDS=headless",
                   "WLR_LIBINPUT_NO_DEVICES=1",
                   "WLR_RENDERER=pixman"};
    const int log = open(QFile::encodeName(top + QStringLiteral("/sway.log")).constData(),
                         O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    sway = spawn({QStringLiteral("sway"), QStringLiteral("-c"), top + QStringLiteral("/sway.conf")},
                 log);
    close(log);

    QByteArray waylandName, ipcSocket;
    const bool up = QTest::qWaitFor(
        [&] {
            if (waitpid(sway, nullptr, WNOHANG) != 0)
                return true; // ended: sway cannot run here
            const QDir dir(QFile::decodeName(runtime));
            for (const QString& name : dir.entryList(QDir::System)) {
                if (name.startsWith(QLatin1String("wayland-")) && !name.endsWith(".lock"))
                    waylandName = QFile::encodeName(name);
                else if (name.startsWith(QLatin1String("sway-ipc.")))
                    ipcSocket = QFile::encodeName(dir.filePath(name));
            }
            return !waylandName.isEmpty() && !ipcSocket.isEmpty();
        },
        10000);
    if (!up || waylandName.isEmpty() || ipcSocket.isEmpty()) {
        if (waitpid(sway, nullptr, WNOHANG) != 0)
            sway = -1;
        failure = QStringLiteral("sway did not start: %1")
                      .arg(QString::fromLocal8Bit(
                          TestSupport::readFile(top + QStringLiteral("/sway.log")).right(400)));
        return false;
    }
    socketPath = runtime + "/" + waylandName;
    environment.push_back("WAYLAND_DISPLAY=" + waylandName);
    environment.push_back("SWAYSOCK=" + ipcSocket);

    if (xwayland) {
        // Sway chose the X display and gives it to what it starts.
        const QString file = folder() + QStringLiteral("/display");
        run({QStringLiteral("swaymsg"), QStringLiteral("exec printenv DISPLAY > ") + file});
        if (!QTest::qWaitFor([&] { return TestSupport::readFile(file).trimmed().startsWith(':'); },
                             10000)) {
            failure = QStringLiteral("sway started no XWayland");
            return false;
        }
        display = TestSupport::readFile(file).trimmed();
        environment.push_back("DISPLAY=" + display);
        // XWayland lets in its own user only; the test's windows come from root.
        if (dropPrivileges &&
            run({QStringLiteral("xhost"), QStringLiteral("+si:localuser:root")}).exitCode != 0) {
            failure = QStringLiteral("XWayland does not let the test in (xhost)");
            return false;
        }
    }
    const auto version =
        run({QStringLiteral("swaymsg"), QStringLiteral("-t"), QStringLiteral("get_version")});
    if (version.exitCode != 0) {
        failure =
            QStringLiteral("sway does not answer: %1").arg(QString::fromLocal8Bit(version.err));
        return false;
    }
    return true;
}

void HeadlessSway::prepareClient()
{
    if (!start()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return;
    }
    // Set under XWayland too, as in any Wayland session: it tells the program that X11 is not
    // all there is.
    qputenv("WAYLAND_DISPLAY", socketPath);
    if (xwayland) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", display);
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    } else {
        qputenv("QT_QPA_PLATFORM", "wayland");
        // No OpenGL: shared memory buffers suffice, and Mesa only adds start-up time and
        // allocations of its own.
        qputenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "none");
    }
}

pid_t HeadlessSway::spawn(const QStringList& command, int outputFd)
{
    // Everything the child needs is built before fork(): after it only calls that are safe in
    // a child of a threaded process.
    std::vector<QByteArray> arguments;
    for (const QString& argument : command)
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const QByteArray home = QFile::encodeName(directory.path() + QStringLiteral("/home"));
    const bool drop = dropPrivileges;
    const uid_t user = uid;
    const gid_t group = gid;

    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(outputFd >= 0 ? outputFd : null, STDOUT_FILENO);
        dup2(outputFd >= 0 ? outputFd : null, STDERR_FILENO);
        setsid();
        if (drop && (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(user) != 0))
            _exit(126);
        // Should the test die without its destructors (a failed assertion in Qt), the
        // compositor and its clients die with it. Set after the change of user, which clears it.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() == 1)
            _exit(126);
        if (chdir(home.constData()) != 0)
            _exit(126);
        // execvpe looks the program up in the child's PATH.
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

pid_t HeadlessSway::launch(const QStringList& command)
{
    const pid_t pid = spawn(command, -1);
    if (pid > 0)
        clients.push_back(pid);
    return pid;
}

void HeadlessSway::terminate(pid_t pid)
{
    const auto it = std::find(clients.begin(), clients.end(), pid);
    if (it == clients.end())
        return;
    clients.erase(it);
    stopProcess(pid);
}

TestSupport::ProcessResult HeadlessSway::run(const QStringList& command, int timeoutMs)
{
    TestSupport::ProcessResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = spawn(command, fds[1]);
    close(fds[1]);
    const QDeadlineTimer deadline(timeoutMs);
    char buffer[4096];
    for (;;) {
        pollfd fd{fds[0], POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(qMax<qint64>(0, deadline.remainingTime()))) <= 0)
            break;
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.out.append(buffer, static_cast<int>(n));
    }
    close(fds[0]);
    if (deadline.hasExpired())
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

QByteArray HeadlessSway::tree()
{
    return run({QStringLiteral("swaymsg"), QStringLiteral("-r"), QStringLiteral("-t"),
                QStringLiteral("get_tree")})
        .out;
}

pid_t HeadlessSway::focusedProcess()
{
    QVector<QJsonObject> found;
    windows(QJsonDocument::fromJson(tree()).object(), found);
    for (const QJsonObject& window : qAsConst(found)) {
        if (window.value(QLatin1String("focused")).toBool())
            return window.value(QLatin1String("pid")).toInt();
    }
    return 0;
}

bool HeadlessSway::hasWindow(pid_t pid)
{
    QVector<QJsonObject> found;
    windows(QJsonDocument::fromJson(tree()).object(), found);
    return std::any_of(found.cbegin(), found.cend(), [pid](const QJsonObject& window) {
        return window.value(QLatin1String("pid")).toInt() == pid;
    });
}

bool HeadlessSway::focus(pid_t pid)
{
    return run({QStringLiteral("swaymsg"), QStringLiteral("[pid=%1] focus").arg(pid)}).exitCode ==
           0;
}

pid_t HeadlessSway::startRecorder(const QString& terminal, const QString& file)
{
    // Raw mode: TAB, ENTER (as a carriage return) and every character arrive unchanged.
    const QString script = QStringLiteral("stty raw -echo; exec cat > '%1'").arg(file);
    const pid_t pid = launch(
        {terminal, QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    return pid > 0 && waitForFocus(pid) ? pid : 0;
}

bool HeadlessSway::waitForFocus(pid_t pid, int timeoutMs)
{
    return QTest::qWaitFor([&] { return focusedProcess() == pid; }, timeoutMs);
}

bool HeadlessSway::keys(const QStringList& arguments)
{
    // The test's own windows must read their events meanwhile: run it beside the event loop.
    const pid_t pid = spawn(
        QStringList{QStringLiteral("wtype"), QStringLiteral("-s"), QString::number(keymapPauseMs)} +
            arguments,
        -1);
    int status = -1;
    const bool ended =
        QTest::qWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
