// Type Selection against a real X server (Xvfb, from support/xvfb-session.sh): what arrives in
// a recorder window lying behind the main window, with and without a window manager, on US and
// German layouts, and (in the serial entry tst_x11typing_load) with every processor busy and the
// target stopped. Beside it, the end of a launch whose files went to the running Varnisk.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "RecordingWindowSystem.h"
#include "TestSupport.h"
#include "app/WindowSystemFactory.h"
#include "platform/x11/X11StartupNotification.h"
#include "platform/x11/X11WindowSystem.h"

#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QVector<WindowSystem::KeyRecord>)

namespace {

// A keyrecorder client: its window, and everything typed into it.
class Recorder
{
public:
    bool start(const QString& title)
    {
        process.start(TestSupport::binaryPath(QStringLiteral("tests/keyrecorder/keyrecorder")),
                      {title});
        if (!process.waitForStarted())
            return false;
        QByteArray err;
        const bool ready = QTest::qWaitFor(
            [&] {
                err += process.readAllStandardError();
                return err.contains('\n') || process.state() != QProcess::Running;
            },
            30000);
        const QList<QByteArray> words = err.trimmed().split(' ');
        if (!ready || words.size() != 2 || words.first() != "READY") {
            qWarning("keyrecorder did not start (state %d): %s", int(process.state()),
                     err.constData());
            return false;
        }
        window = words.at(1).toULong();
        return window != 0;
    }
    QByteArray output()
    {
        typed += process.readAllStandardOutput();
        return typed;
    }
    ~Recorder()
    {
        process.kill();
        process.waitForFinished();
    }

    QProcess process;
    unsigned long window = 0;

private:
    QByteArray typed;
};

QString utf8(const char* text)
{
    return QString::fromUtf8(text);
}

struct DisplayCloser
{
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// A busy loop on every processor while it lives.
struct BusyLoops
{
    explicit BusyLoops(bool on)
    {
        for (int i = 0; on && i < QThread::idealThreadCount(); ++i) {
            loops.push_back(std::make_unique<QProcess>());
            loops.back()->start(QStringLiteral("sh"), {"-c", "while :; do :; done"});
        }
    }
    ~BusyLoops()
    {
        for (auto& loop : loops) {
            loop->kill();
            loop->waitForFinished();
        }
    }
    std::vector<std::unique_ptr<QProcess>> loops;
};

} // namespace

class tst_X11Typing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { setLayout(QStringLiteral("us")); }
    void cleanup();

    void typesIntoWindowBehind_data();
    void typesIntoWindowBehind();
    void capsLockDoesNotChangeText();
    void sparesStayUntilRestored();
    void noWindowBehind();
    void sendInput_data();
    void sendInput();
    void launchFeedbackEnds();

private:
    void setLayout(const QString& layout);
    bool startWindowManager();
    void stopWindowManager();

    QTemporaryDir settings;
    Display* display = nullptr; // the test's own connection, for checks behind Qt's back
    std::unique_ptr<Display, DisplayCloser> connection;
    QProcess windowManager;
};

void tst_X11Typing::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    TestSupport::isolateSettings(settings);
    connection.reset(XOpenDisplay(nullptr));
    display = connection.get();
    QVERIFY(display != nullptr);
}

void tst_X11Typing::cleanup()
{
    stopWindowManager();
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    XSync(display, False);
}

void tst_X11Typing::setLayout(const QString& layout)
{
    const auto result = TestSupport::run(QStringLiteral("setxkbmap"), {layout});
    QVERIFY2(result.exitCode == 0, result.err.constData());
}

bool tst_X11Typing::startWindowManager()
{
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!windowManager.waitForStarted())
        return false;
    // Openbox announces itself before it handles map requests, and drops the ones that come
    // in between; a probe window tells when it really manages new windows.
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const auto managed = [&](::Window window) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display, window, wmState, 0, 2, False, wmState, &type, &format, &count,
                           &remaining, &data);
        if (data != nullptr)
            XFree(data);
        return type == wmState;
    };
    const ::Window probe =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    bool ready = false;
    for (int attempt = 0; attempt < 20 && !ready; ++attempt) {
        XUnmapWindow(display, probe);
        XMapWindow(display, probe);
        XSync(display, False);
        ready = QTest::qWaitFor([&] { return managed(probe); }, 1000);
    }
    XDestroyWindow(display, probe);
    XSync(display, False);
    return ready;
}

void tst_X11Typing::stopWindowManager()
{
    if (windowManager.state() == QProcess::NotRunning)
        return;
    windowManager.terminate();
    windowManager.waitForFinished();
    XDeleteProperty(display, DefaultRootWindow(display),
                    XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False));
    XSync(display, False);
}

void tst_X11Typing::typesIntoWindowBehind_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("withWindowManager");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("underLoad");

    const QString plain = QStringLiteral("action_Type_Selection");
    const QString tab = QStringLiteral("action_Type_Selection_TAB");
    const QString enter = QStringLiteral("action_Type_Selection_ENTER");
    const QString ascii = QStringLiteral("Hello, World! 0123456789 ~`|{}<>?\"'[]\\/+=_-");
    const QString german = utf8("@€äöüßÄÖÜZYzy{}[]\\|~µ");

    const QString token = utf8("s3cr€t-P@ss-äöüßZY😀");

    QTest::newRow("ascii") << "us" << false << ascii << plain << ascii.toUtf8() << false;
    QTest::newRow("enter") << "us" << false << "abc" << enter << QByteArray("abc\r") << false;
    // A line break is typed as the editor's own U+2029, never as a Return that could submit
    // a form with half the text in it.
    QTest::newRow("two lines") << "us" << false << "one\ntwo" << plain
                               << QByteArray("one\xE2\x80\xA9two") << false;
    QTest::newRow("german layout") << "de" << false << german << plain << german.toUtf8() << false;
    QTest::newRow("not on the layout")
        << "us" << false << utf8("äé€ж") << plain << utf8("äé€ж").toUtf8() << false;
    QTest::newRow("wm german") << "de" << true << german << tab << german.toUtf8() + '\t' << false;
    // Characters off the layout on spare keycodes, read by the target only a second later.
    QTest::newRow("load: off the layout")
        << "us" << false << token << plain << token.toUtf8() << true;
    QTest::newRow("load: wm, enter")
        << "de" << true << token << enter << token.toUtf8() + '\r' << true;
}

void tst_X11Typing::typesIntoWindowBehind()
{
    QFETCH(QString, layout);
    QFETCH(bool, withWindowManager);
    QFETCH(QString, text);
    QFETCH(QString, action);
    QFETCH(QByteArray, expected);
    QFETCH(bool, underLoad);
    // Load rows run alone, in an entry of their own.
    if (underLoad != qEnvironmentVariableIsSet("VARNISK_LOAD_ROWS"))
        QSKIP(underLoad ? "run by tst_x11typing_load" : "not a load row");

    setLayout(layout);
    if (withWindowManager)
        QVERIFY(startWindowManager());
    // `farther` lies below the target: only the window directly behind may get the keys.
    Recorder farther, behind;
    QVERIFY(farther.start(QStringLiteral("farther")));
    QVERIFY(behind.start(QStringLiteral("behind")));
    auto window = EditorWindow::show(text, true, WindowSystemFactory::create());
    QVERIFY(window->isActiveWindow());

    const BusyLoops busy(underLoad);
    // Stopped from before its keys come until a second later: longer than any wait.
    const auto target = static_cast<pid_t>(behind.process.processId());
    QTimer resume;
    resume.setSingleShot(true);
    connect(&resume, &QTimer::timeout, [target] { kill(target, SIGCONT); });
    if (underLoad) {
        kill(target, SIGSTOP);
        resume.start(1000);
    }
    ModalScript script;
    EditorWindow::trigger(*window, qPrintable(action));
    QTRY_VERIFY_WITH_TIMEOUT(
        behind.output().size() >= expected.size() || !script.unexpected.isEmpty(), 10000);
    // Under load the program may find it cannot vouch for the typing and say so; it never
    // types other bytes.
    if (underLoad && script.unexpectedMessages == QStringList{QStringLiteral("Error typing!")}) {
        QVERIFY(expected.startsWith(behind.output()));
    } else {
        QCOMPARE(behind.output(), expected);
        QCOMPARE(script.unexpected, QStringList());
    }
    QCOMPARE(farther.output(), QByteArray());
    // (Under load the window manager may take its time to hand the focus back.)
    if (action != QLatin1String("action_Type_Selection") && !underLoad)
        QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), 10000);
}

void tst_X11Typing::capsLockDoesNotChangeText()
{
    Recorder behind;
    QVERIFY(behind.start(QStringLiteral("behind")));
    auto window =
        EditorWindow::show(QStringLiteral("abcXYZ1!"), true, WindowSystemFactory::create());
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    XSync(display, False);

    ModalScript script;
    EditorWindow::trigger(*window, "action_Type_Selection");
    QTRY_VERIFY_WITH_TIMEOUT(behind.output().size() >= 8, 10000);
    QCOMPARE(behind.output(), QByteArray("abcXYZ1!"));
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    QCOMPARE(state.locked_mods & LockMask, static_cast<unsigned>(LockMask));
}

void tst_X11Typing::noWindowBehind()
{
    auto window = EditorWindow::show(QStringLiteral("secret"), true, WindowSystemFactory::create());
    ModalScript script;
    QString title;
    script.then([&](QWidget* widget) {
        title = widget->windowTitle();
        script.messages << qobject_cast<QMessageBox*>(widget)->text();
        widget->close();
    });
    EditorWindow::trigger(*window, "action_Type_Selection");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
    QCOMPARE(title, QStringLiteral("Varnisk"));
}

// The characters on spare keycodes stay for a target that reads late, until restored.
void tst_X11Typing::sparesStayUntilRestored()
{
    const KeySym zhe = 0x1000436; // ж, on no layout used here
    const auto mapped = [&] {
        int perKeycode = 0;
        KeySym* syms = XGetKeyboardMapping(display, 8, 248, &perKeycode);
        const bool found = std::count(syms, syms + 248 * perKeycode, zhe) != 0;
        XFree(syms);
        return found;
    };
    Recorder target;
    QVERIFY(target.start(QStringLiteral("target")));
    auto layer = X11WindowSystem::open();
    QVERIFY(layer->setForegroundWindow(target.window));
    QCOMPARE(layer->sendInput(keyRecords(utf8("ж"))), 2);
    QTRY_VERIFY_WITH_TIMEOUT(target.output() == utf8("ж").toUtf8(), 10000);
    QVERIFY(mapped());
    layer->restoreKeyboard();
    QVERIFY(!mapped());
    QCOMPARE(layer->sendInput(keyRecords(utf8("ж"))), 2);
    QTRY_VERIFY_WITH_TIMEOUT(target.output() == utf8("жж").toUtf8(), 10000);
    layer.reset();
    QVERIFY(!mapped());
    // A Varnisk killed after typing leaves them mapped; the next one to start takes them back.
    const pid_t killed = fork();
    if (killed == 0) {
        auto dying = X11WindowSystem::open();
        if (dying->setForegroundWindow(target.window))
            static_cast<void>(dying->sendInput(keyRecords(utf8("ж"))));
        raise(SIGKILL);
    }
    QVERIFY(killed > 0 && waitpid(killed, nullptr, 0) == killed);
    QVERIFY(mapped());
    // The server ends the killed one's connection in its own time.
    QTRY_VERIFY_WITH_TIMEOUT((layer = X11WindowSystem::open(), !mapped()), 10000);
}

void tst_X11Typing::sendInput_data()
{
    using Record = WindowSystem::KeyRecord;
    QTest::addColumn<QVector<Record>>("batch");
    QTest::addColumn<QString>("meanwhile"); // what happens between focusing and typing
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("typed");

    // Which batches can be typed is decided in platform/KeyTaps (tst_waylandkeymap); here, that
    // the X11 layer counts and types them.
    QTest::newRow("text and tab") << keyRecords(QStringLiteral("ab")) + keyRecords(Record::Tab)
                                  << "" << 6 << QByteArray("ab\t");
    QTest::newRow("surrogate pair") << keyRecords(utf8("😀")) << "" << 4 << utf8("😀").toUtf8();
    QTest::newRow("lone surrogate")
        << keyRecords(QString(QChar(0xd83d))) << "" << 0 << QByteArray();
    QTest::newRow("focus taken meanwhile: nothing typed")
        << keyRecords(QStringLiteral("password")) << "focus" << 0 << QByteArray();
    QTest::newRow("modifier held: nothing typed")
        << keyRecords(QStringLiteral("abc")) << "shift" << 0 << QByteArray();
    // Read while Shift was held, typed after: "zy" would arrive as "yz".
    QTest::newRow("layout changed meanwhile: nothing typed")
        << keyRecords(QStringLiteral("zy")) << "layout" << 0 << QByteArray();
    // A spare keycode never changes its character within one typing.
    QTest::newRow("more characters off the layout than spare keys: nothing typed")
        << keyRecords(utf8("ĀāĂăĄąĆćĈĉĊċČčĎďĐđĒēĔĕĖėĘęĚěĜĝĞğĠġĢģĤĥĦħ")) << "" << 0 << QByteArray();
}

void tst_X11Typing::sendInput()
{
    QFETCH(QVector<WindowSystem::KeyRecord>, batch);
    QFETCH(QString, meanwhile);
    QFETCH(int, count);
    QFETCH(QByteArray, typed);

    Recorder target, other;
    QVERIFY(target.start(QStringLiteral("target")));
    QVERIFY(other.start(QStringLiteral("other")));
    auto layer = X11WindowSystem::open();
    QVERIFY(layer != nullptr);
    QVERIFY(layer->setForegroundWindow(target.window));
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    if (meanwhile == "focus")
        XSetInputFocus(display, other.window, RevertToParent, CurrentTime);
    if (meanwhile == "shift" || meanwhile == "layout")
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XSync(display, False);
    QProcess change;
    if (meanwhile == "layout")
        change.start(QStringLiteral("sh"),
                     {"-c", "sleep 0.5; setxkbmap de && xdotool keyup Shift_L"});
    const int sent = layer->sendInput(batch);
    change.waitForFinished();
    XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XSetInputFocus(display, target.window, RevertToParent, CurrentTime);
    XSync(display, False);
    QCOMPARE(sent, count);
    // The next typing empties spare keycodes it does not use: the target reads these first.
    QTRY_VERIFY_WITH_TIMEOUT(target.output() == typed, 10000);
    // A marker typed afterwards arrives, so anything typed before it would have too.
    QCOMPARE(layer->sendInput(keyRecords(QStringLiteral("."))), 2);
    QTRY_VERIFY_WITH_TIMEOUT(target.output().endsWith('.'), 10000);
    QCOMPARE(target.output(), typed + '.');
    QCOMPARE(other.output(), QByteArray());
}

void tst_X11Typing::launchFeedbackEnds()
{
    // "remove" for the launch's ID (quoted, 20 bytes a message) to clients of the root window.
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    XSync(display, False);
    QVERIFY(X11StartupNotification::complete("files-1-host-varnisk-2_TIME9 \"a\\b\""));
    QByteArray text;
    while (!text.contains('\0')) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.format == 8)
            text.append(event.xclient.data.b, 20);
    }
    QCOMPARE(text.left(text.indexOf('\0')),
             QByteArray("remove: ID=\"files-1-host-varnisk-2_TIME9 \\\"a\\\\b\\\"\""));
}

QTEST_MAIN(tst_X11Typing)

#include "tst_x11typing.moc"
