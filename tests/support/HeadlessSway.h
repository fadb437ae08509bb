#pragma once

#include "TestSupport.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/types.h>
#include <vector>

// A sway compositor of the test's own on a headless output, with a runtime directory, home
// and configuration of its own. Sway refuses to run as root, so when the test runs as root the
// compositor and every client started here run as `nobody`; they need nothing from the build
// tree. Everything started here ends with this object.
class HeadlessSway
{
public:
    explicit HeadlessSway(bool xwayland);
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;

    // Runs the Qt Test class `Test` (constructed with the session), with settings of its own, as
    // a client of a compositor
    // of its own: natively on Wayland, or with `xwayland` on X11 through XWayland. Where sway
    // cannot start it runs offscreen, and `Test` skips with error().
    template <class Test> static int run(bool xwayland, int argc, char** argv)
    {
        HeadlessSway sway(xwayland);
        sway.prepareClient();
        QTemporaryDir runtime; // the test's own, so Qt finds one it owns; its settings there too
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        TestSupport::isolateSettings(runtime);
        QApplication application(argc, argv);
        // The app id by which the program recognises its own windows.
        QGuiApplication::setDesktopFileName(QStringLiteral("org.nembrow.Varnisk"));
        Test test(sway);
        return QTest::qExec(&test, argc, argv);
    }

    // Starts the compositor and waits until it answers; false with `error()` saying why when
    // it cannot run here (no sway, no user to drop to, ...).
    bool start();
    QString error() const { return failure; }

    // A folder of the session's user, for files its clients write.
    QString folder() const;

    // Starts a terminal (foot, or xterm under XWayland) whose input goes byte for byte into
    // `file`, and waits until its window has the focus; 0 when it does not come up.
    pid_t startRecorder(const QString& terminal, const QString& file);
    // Starts a client as the session's user; it ends with this object at the latest.
    pid_t launch(const QStringList& command);
    void terminate(pid_t pid);
    // Runs a command as the session's user to its end (at most `timeoutMs`).
    TestSupport::ProcessResult run(const QStringList& command, int timeoutMs = 10000);

    // The process of the focused window, 0 when none has the focus.
    pid_t focusedProcess();
    // Whether a window of `pid` is mapped.
    bool hasWindow(pid_t pid);
    bool focus(pid_t pid);
    // Waits until the window of `pid` has the focus.
    bool waitForFocus(pid_t pid, int timeoutMs = 10000);
    // Sends keys as wtype arguments (e.g. {"-k", "F8"}), after the pause receivers need to
    // take wtype's keymap.
    bool keys(const QStringList& arguments);

private:
    // Starts the compositor and points Qt at it, or else at the offscreen platform.
    void prepareClient();
    pid_t spawn(const QStringList& command, int outputFd);
    QByteArray tree();

    bool xwayland;
    QTemporaryDir directory;
    uid_t uid = 0;
    gid_t gid = 0;
    bool dropPrivileges = false;
    std::vector<QByteArray> environment;
    QByteArray socketPath;
    QByteArray display;
    QString failure;
    pid_t sway = -1;
    std::vector<pid_t> clients;
};
