// Type Selection in a real headless sway (started by support/sway-session.sh), its shortcuts
// pressed through a virtual keyboard (wtype), the focus read from sway. Natively on Wayland: a
// real foot terminal as the target (an X11 xterm where XWayland runs), the main window on Qt's
// Wayland platform. Under sway-session.sh --xwayland with QT_QPA_PLATFORM=xcb, on X11 inside the
// Wayland session: the main window on XWayland, an X11 xterm and a Wayland-native foot; only the
// X11 window that was active just before the main window may get the keys. Under
// support/mutter-session.sh, GNOME's compositor with the real portal: foot as the target, the
// main window natively on Wayland, typing through the portal.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "app/WindowSystemFactory.h"
#include "securememory/ProcessProtection.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

// Leaks inside Qt's Wayland platform are suppressed by its library's frames, which only a full
// unwind finds behind libwayland's (tests/lsan.supp); read by AddressSanitizer builds only.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

// Whether sway finds a window for `criteria` (e.g. "[pid=12]"), and runs `command` on it.
bool sway(const QString& criteria, const QString& command = QStringLiteral("nop"))
{
    return TestSupport::run(QStringLiteral("swaymsg"), {criteria + ' ' + command}).exitCode == 0;
}

bool hasFocus(qint64 pid)
{
    return sway(QStringLiteral("[pid=%1 con_id=__focused__]").arg(pid));
}

bool waitForFocus(qint64 pid)
{
    return QTest::qWaitFor([pid] { return hasFocus(pid); }, 10000);
}

// Sends keys as wtype arguments (e.g. {"-k", "F8"}) beside the event loop, so the test's own
// windows read them; after the pause receivers need to take wtype's keymap.
bool keys(const QStringList& arguments)
{
    QProcess wtype;
    wtype.start(QStringLiteral("wtype"), QStringList{"-s", "300"} + arguments);
    return QTest::qWaitFor([&] { return wtype.state() == QProcess::NotRunning; }, 10000) &&
           wtype.exitStatus() == QProcess::NormalExit && wtype.exitCode() == 0;
}

// A terminal (foot, or xterm under XWayland) whose input goes byte for byte into a file.
class Terminal
{
public:
    // Starts it; `prelude` runs in its shell first.
    bool start(const QString& program, const QString& file, const QString& prelude = {})
    {
        // Raw mode: TAB, ENTER (as a carriage return) and every character arrive unchanged.
        process.start(program,
                      {"-e", "sh", "-c",
                       prelude + QStringLiteral("stty raw -echo; exec cat > '%1'").arg(file)});
        return process.waitForStarted();
    }
    qint64 pid() const { return process.processId(); }
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished();
    }
    ~Terminal() { stop(); }

private:
    QProcess process;
};

} // namespace

class tst_WaylandTyping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typesIntoTerminal_data();
    void typesIntoTerminal();
    void closedTargetGivesMessage();

private:
    void showWindow(const QString& text);

    QTemporaryDir files;
    std::unique_ptr<Varnisk> window;
    QString typed;
    Terminal terminal;
};

void tst_WaylandTyping::initTestCase()
{
    QVERIFY(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    typed = files.filePath(QStringLiteral("typed"));
}

void tst_WaylandTyping::init()
{
    QFile::remove(typed);
    // Where XWayland runs, an X11 window: it reads the keys with the keymap XWayland compiled.
    const QString program = qEnvironmentVariableIsSet("DISPLAY") ? "xterm" : "foot";
    QVERIFY(terminal.start(program, typed) && waitForFocus(terminal.pid()));
}

void tst_WaylandTyping::cleanup()
{
    window.reset();
    terminal.stop();
}

void tst_WaylandTyping::showWindow(const QString& text)
{
    window = EditorWindow::show(text, false, WindowSystemFactory::create());
    QVERIFY(waitForFocus(getpid()));
}

void tst_WaylandTyping::typesIntoTerminal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("comesBack");

    const QString token = QString::fromUtf8("Tok€äöüß😀n");
    QTest::newRow("token + ENTER") << token << "F10" << token.toUtf8() + '\r' << true;
    QTest::newRow("token + TAB") << token << "F9" << token.toUtf8() + '\t' << true;
    QTest::newRow("F8: the terminal keeps the focus")
        << QStringLiteral("abc") << "F8" << QByteArray("abc") << false;
    QTest::newRow("two lines") << QStringLiteral("one\ntwo") << "F8"
                               << QByteArray("one\xe2\x80\xa9two") << false;
}

void tst_WaylandTyping::typesIntoTerminal()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);
    QFETCH(bool, comesBack);

    showWindow(text);
    ModalScript script;
    QVERIFY(keys({QStringLiteral("-k"), key}));
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(typed).size() >= expected.size(), 10000);
    QCOMPARE(script.unexpected, QStringList());
    if (comesBack) {
        QVERIFY(waitForFocus(getpid()));
    } else {
        // Longer than the run would take to bring the window back.
        QTest::qWait(600);
        QVERIFY(hasFocus(terminal.pid()));
    }
    // Every byte, read once nothing can write any more.
    terminal.stop();
    QCOMPARE(TestSupport::readFile(typed), expected);
    // X clients can still read the keymap.
    if (qEnvironmentVariableIsSet("DISPLAY"))
        QCOMPARE(TestSupport::run(QStringLiteral("xterm"), {"-e", "true"}).exitCode, 0);
}

void tst_WaylandTyping::closedTargetGivesMessage()
{
    showWindow(QStringLiteral("secret"));
    const qint64 closed = terminal.pid();
    terminal.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!sway(QStringLiteral("[pid=%1]").arg(closed)), 10000);
    ModalScript script;
    script.message();
    QVERIFY(keys({QStringLiteral("-k"), QStringLiteral("F8")}));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
}

class tst_XWaylandTyping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typesIntoX11WindowActiveBefore_data();
    void typesIntoX11WindowActiveBefore();

private:
    QTemporaryDir files;
    QString xtermFile;
    Terminal xterm;
    Terminal foot;
};

void tst_XWaylandTyping::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    xtermFile = files.filePath(QStringLiteral("xterm"));
}

void tst_XWaylandTyping::init()
{
    QFile::remove(xtermFile);
    QVERIFY(xterm.start(QStringLiteral("xterm"), xtermFile) && waitForFocus(xterm.pid()));
    QVERIFY(foot.start(QStringLiteral("foot"), files.filePath(QStringLiteral("foot"))) &&
            waitForFocus(foot.pid()));
}

void tst_XWaylandTyping::cleanup()
{
    foot.stop();
    xterm.stop();
}

void tst_XWaylandTyping::typesIntoX11WindowActiveBefore_data()
{
    QTest::addColumn<bool>("xtermLast"); // else foot (Wayland-native) had the focus last
    QTest::newRow("the X11 window was active last") << true;
    QTest::newRow("a native window between: nothing typed") << false;
}

void tst_XWaylandTyping::typesIntoX11WindowActiveBefore()
{
    QFETCH(bool, xtermLast);
    if (xtermLast) {
        QVERIFY(sway(QStringLiteral("[pid=%1]").arg(xterm.pid()), QStringLiteral("focus")));
        QVERIFY(waitForFocus(xterm.pid()));
    }
    const QString token = QString::fromUtf8("s3cr€t-P@ss-äöüßZY😀");
    auto window = EditorWindow::show({}, false, WindowSystemFactory::create());
    QVERIFY(waitForFocus(getpid()));
    ModalScript script;
    if (!xtermLast)
        script.message();
    // One virtual keyboard types the token into the editor, selects it and presses F10: the
    // X keymap in force is then that keyboard's, holding the token's characters on keycodes
    // that mean other keys on the XTEST keyboard.
    QVERIFY(keys({token, "-M", "ctrl", "-M", "shift", "-k", "Home", "-m", "shift", "-m", "ctrl",
                  "-k", "F10"}));
    const QByteArray expected = xtermLast ? token.toUtf8() + '\r' : QByteArray();
    QVERIFY(script.waitUntilDone());
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(xtermFile).size() >= expected.size(), 10000);
    QCOMPARE(TestSupport::readFile(xtermFile), expected);
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(script.messages, xtermLast
                                  ? QStringList()
                                  : QStringList{QStringLiteral("No Window found for typing!")});
    QVERIFY(waitForFocus(getpid()));
}

// Through the desktop's portal on mutter: the editor types through the one window system the
// process has, as the program does; the portal's backend logs each answer it gives.
class tst_PortalTyping : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typesIntoWindowBefore_data();
    void typesIntoWindowBefore();
    void oneSessionUntilLock();
    void typesNothing_data();
    void typesNothing();
    void noOtherWindow_data();
    void noOtherWindow();

private:
    QByteArray typed() const { return TestSupport::readFile(file); }
    // An editor window holding `text` all selected, which took the focus from foot.
    // Null when that did not happen.
    std::unique_ptr<Varnisk> show(const QString& text);
    // How often the portal's backend logged `line`.
    static int logged(const QByteArray& line);
    // Taps a key as a keyboard of the seat would, through mutter's own RemoteDesktop interface.
    static bool tapOnSeat(quint32 keysym);
    static constexpr quint32 capsLockKeysym = 0xffe5;

    QTemporaryDir files;
    QString file;
    std::shared_ptr<WindowSystem> system;
    Terminal foot;
    bool capsLocked = false;
};

void tst_PortalTyping::init()
{
    // A file of its own for each row: nothing of a row before can arrive in it.
    file =
        files.filePath(QString::fromLatin1(QTest::currentDataTag()) + QTest::currentTestFunction());
    QFile::remove(qEnvironmentVariable("VARNISK_PORTAL_ANSWER"));
    system = WindowSystemFactory::create();
    // foot reports its focus into what it receives: \e[I when it gets it, \e[O when it loses it.
    foot.stop(); // a row whose init failed had no cleanup
    QVERIFY(foot.start(QStringLiteral("foot"), file, QStringLiteral("printf '\\033[?1004h'; ")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), 10000);
    // It has the focus once it reports it; if it got it before its shell asked for the reports,
    // a window of ours shown and closed again hands it back.
    if (!QTest::qWaitFor([&] { return typed() == "\e[I"; }, 3000)) {
        QWidget bounce;
        bounce.show();
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::focusWindow(), bounce.windowHandle(), 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(typed().endsWith("\e[I"), 10000);
}

void tst_PortalTyping::cleanup()
{
    if (capsLocked)
        capsLocked = !tapOnSeat(capsLockKeysym);
    foot.stop();
    system.reset();
}

std::unique_ptr<Varnisk> tst_PortalTyping::show(const QString& text)
{
    const int losses = typed().count("\e[O");
    auto window = EditorWindow::show(text, false, system);
    const bool fromFoot = QTest::qWaitFor(
        [&] {
            return typed().count("\e[O") > losses &&
                   QGuiApplication::focusWindow() == window->windowHandle();
        },
        10000);
    return fromFoot ? std::move(window) : nullptr;
}

int tst_PortalTyping::logged(const QByteArray& line)
{
    return TestSupport::readFile(qEnvironmentVariable("VARNISK_PORTAL_LOG"))
        .split('\n')
        .count(line);
}

bool tst_PortalTyping::tapOnSeat(quint32 keysym)
{
    const QString service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
    QDBusInterface desktop(service, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), service);
    const QDBusReply<QDBusObjectPath> path = desktop.call(QStringLiteral("CreateSession"));
    QDBusInterface session(service, path.value().path(), service + QStringLiteral(".Session"));
    session.call(QStringLiteral("Start"));
    bool tapped = true;
    for (const bool pressed : {true, false})
        tapped = tapped &&
                 session.call(QStringLiteral("NotifyKeyboardKeysym"), keysym, pressed).type() ==
                     QDBusMessage::ReplyMessage;
    session.call(QStringLiteral("Stop"));
    return path.isValid() && tapped;
}

void tst_PortalTyping::typesIntoWindowBefore_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("expected"); // foot's bytes after it lost the focus
    QTest::addColumn<QString>("message");

    // All on the US layout, Shift included.
    const QString token = QStringLiteral("s3cr3t-P@ss~ZY");
    QTest::newRow("token + ENTER, then back") << token << "action_Type_Selection_ENTER"
                                              << "\e[I" + token.toUtf8() + "\r\e[O" << QString();
    QTest::newRow("token + TAB, then back") << token << "action_Type_Selection_TAB"
                                            << "\e[I" + token.toUtf8() + "\t\e[O" << QString();
    QTest::newRow("F8: foot keeps the focus")
        << QStringLiteral("abc") << "action_Type_Selection" << QByteArray("\e[Iabc") << QString();
    // Nothing typed: the editor comes back to say so.
    QTest::newRow("off the layout: nothing")
        << QString::fromUtf8("Tokä€😀nä") << "action_Type_Selection" << QByteArray("\e[I\e[O")
        << QString::fromUtf8("Error typing!\nThe keyboard layout has no key for: ä € 😀");
    QTest::newRow("two lines: nothing")
        << QStringLiteral("one\ntwo") << "action_Type_Selection_ENTER" << QByteArray("\e[I\e[O")
        << QStringLiteral("Error typing!\nThe keyboard layout has no key for: U+2029");
}

void tst_PortalTyping::typesIntoWindowBefore()
{
    QFETCH(QString, text);
    QFETCH(QString, action);
    QFETCH(QByteArray, expected);
    QFETCH(QString, message);

    const auto window = show(text);
    QVERIFY(window);
    const QByteArray before = typed();
    ModalScript script;
    if (!message.isEmpty())
        script.message();
    EditorWindow::trigger(*window, action.toLatin1());
    QCOMPARE(script.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(script.unexpected, QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(typed(), before + expected, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::focusWindow() == window->windowHandle(),
                              expected.endsWith("\e[O"), 10000);
    foot.stop();
    QCOMPARE(typed(), before + expected);
}

void tst_PortalTyping::oneSessionUntilLock()
{
    const int sessions = logged("Start 0");
    auto window = show(QStringLiteral("abc"));
    QVERIFY(window);
    for (int i = 0; i < 2; ++i) {
        EditorWindow::trigger(*window, "action_Type_Selection_ENTER");
        QTRY_COMPARE_WITH_TIMEOUT(typed().count("abc\r\e[O"), i + 1, 10000);
    }
    QCOMPARE(logged("Start 0"), sessions + 1);
    const int closed = logged("Session.Close");
    QVERIFY(window->lock());
    QTRY_COMPARE_WITH_TIMEOUT(logged("Session.Close"), closed + 1, 10000);
    // The next typing asks the desktop again.
    window.reset();
    window = show(QStringLiteral("def"));
    QVERIFY(window);
    EditorWindow::trigger(*window, "action_Type_Selection");
    QTRY_VERIFY_WITH_TIMEOUT(typed().endsWith("\e[Idef"), 10000);
    QCOMPARE(logged("Start 0"), sessions + 2);
}

void tst_PortalTyping::typesNothing_data()
{
    QTest::addColumn<QByteArray>("answer"); // the desktop's to the question
    QTest::addColumn<bool>("capsLock");
    QTest::addColumn<QString>("message");
    QTest::newRow("the desktop refused")
        << QByteArray("2") << false << "The desktop did not allow Varnisk to type.";
    QTest::newRow("Caps Lock on") << QByteArray("0") << true << "Error typing!\nCaps Lock is on.";
}

void tst_PortalTyping::typesNothing()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, capsLock);
    QFETCH(QString, message);

    TestSupport::writeFile(qEnvironmentVariable("VARNISK_PORTAL_ANSWER"), answer);
    const int questions = logged("Start " + answer);
    const auto window = show(QStringLiteral("abc"));
    QVERIFY(window);
    const QByteArray before = typed();
    if (capsLock)
        QVERIFY(capsLocked = tapOnSeat(capsLockKeysym));
    ModalScript script;
    script.message();
    EditorWindow::trigger(*window, "action_Type_Selection");
    QCOMPARE(script.messages, QStringList{message});
    // Asked once, and the focus never left.
    QCOMPARE(logged("Start " + answer), questions + 1);
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::focusWindow(), window->windowHandle(), 10000);
    foot.stop();
    QCOMPARE(typed(), before);
}

void tst_PortalTyping::noOtherWindow_data()
{
    QTest::addColumn<bool>("editorBefore"); // else no other window at all
    QTest::newRow("no other window") << false;
    QTest::newRow("another editor window before") << true;
}

void tst_PortalTyping::noOtherWindow()
{
    QFETCH(bool, editorBefore);
    std::unique_ptr<Varnisk> other;
    if (editorBefore)
        QVERIFY(other = show(QStringLiteral("other")));
    foot.stop();
    const auto window = EditorWindow::show(QStringLiteral("abc"), false, system);
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::focusWindow(), window->windowHandle(), 10000);
    ModalScript script;
    script.message();
    EditorWindow::trigger(*window, "action_Type_Selection");
    QCOMPARE(script.messages, QStringList{"No Window found for typing!"});
    if (other)
        QCOMPARE(EditorWindow::editor(*other)->toPlainText(), QStringLiteral("other"));
}

int main(int argc, char** argv)
{
    const bool portal = qEnvironmentVariableIsSet("VARNISK_PORTAL_LOG");
    // As the program starts: the portal then inspects a process that protects itself.
    if (portal) {
        WindowSystemFactory::prepare();
        ProcessProtection::apply();
    }
    QApplication application(argc, argv);
    // The app id by which the program recognises its own windows.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.nembrow.Varnisk"));
    const QTemporaryDir settings;
    TestSupport::isolateSettings(settings);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        tst_XWaylandTyping test;
        return QTest::qExec(&test, argc, argv);
    }
    if (portal) {
        tst_PortalTyping test;
        return QTest::qExec(&test, argc, argv);
    }
    tst_WaylandTyping test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_waylandtyping.moc"
