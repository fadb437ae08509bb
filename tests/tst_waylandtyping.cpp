// Type Selection in a real headless sway (started by support/sway-session.sh), its shortcuts
// pressed through a virtual keyboard (wtype), the focus read from sway. Natively on Wayland: a
// real foot terminal as the target, the main window on Qt's Wayland platform. Under
// sway-session.sh --xwayland, on X11 inside the Wayland session: the main window on XWayland
// (xcb), an X11 xterm and a Wayland-native foot; only the X11 window that was active just before
// the main window may get the keys.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "app/WindowSystemFactory.h"

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
    // Starts it and waits until its window has the focus.
    bool start(const QString& program, const QString& file)
    {
        // Raw mode: TAB, ENTER (as a carriage return) and every character arrive unchanged.
        process.start(program, {"-e", "sh", "-c",
                                QStringLiteral("stty raw -echo; exec cat > '%1'").arg(file)});
        return process.waitForStarted() && waitForFocus(pid());
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
    QVERIFY(terminal.start(QStringLiteral("foot"), typed));
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
    QCOMPARE(TestSupport::readFile(typed), expected);
    QCOMPARE(script.unexpected, QStringList());
    if (comesBack) {
        QVERIFY(waitForFocus(getpid()));
    } else {
        // Longer than the run would take to bring the window back.
        QTest::qWait(600);
        QVERIFY(hasFocus(terminal.pid()));
    }
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
    QVERIFY(xterm.start(QStringLiteral("xterm"), xtermFile));
    QVERIFY(foot.start(QStringLiteral("foot"), files.filePath(QStringLiteral("foot"))));
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

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The app id by which the program recognises its own windows.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.nembrow.Varnisk"));
    const QTemporaryDir settings;
    TestSupport::isolateSettings(settings);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        tst_XWaylandTyping test;
        return QTest::qExec(&test, argc, argv);
    }
    tst_WaylandTyping test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_waylandtyping.moc"
