// Type Selection in a real headless sway, its shortcuts pressed through a virtual keyboard
// (wtype), the focus read from sway. Natively on Wayland: a real foot terminal as the target,
// the main window on Qt's Wayland platform. With --xwayland, on X11 inside the Wayland session:
// the main window on XWayland (xcb), an X11 xterm and a Wayland-native foot; only the X11 window
// that was active just before the main window may get the keys.
#include "EditorWindow.h"
#include "HeadlessSway.h"
#include "ModalScript.h"
#include "TestSupport.h"

#include <memory>
#include <unistd.h>

// Leaks inside Qt's Wayland platform are suppressed by its library's frames, which only a full
// unwind finds behind libwayland's (tests/lsan.supp); read by AddressSanitizer builds only.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

class tst_WaylandTyping : public QObject
{
    Q_OBJECT

public:
    explicit tst_WaylandTyping(HeadlessSway& sway) : session(sway) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typesIntoTerminal_data();
    void typesIntoTerminal();
    void closedTargetGivesMessage();

private:
    void showWindow(const QString& text);

    HeadlessSway& session;
    std::unique_ptr<Varnisk> window;
    QString typed;
    pid_t terminal = 0;
};

void tst_WaylandTyping::initTestCase()
{
    if (!session.error().isEmpty())
        QSKIP(qPrintable("no headless sway here: " + session.error()));
    QVERIFY(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    typed = session.folder() + QStringLiteral("/typed");
}

void tst_WaylandTyping::init()
{
    QFile::remove(typed);
    terminal = session.startRecorder(QStringLiteral("foot"), typed);
    QVERIFY(terminal != 0);
}

void tst_WaylandTyping::cleanup()
{
    window.reset();
    session.terminate(terminal);
}

void tst_WaylandTyping::showWindow(const QString& text)
{
    window = EditorWindow::show(text);
    QVERIFY(session.waitForFocus(getpid()));
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
    QVERIFY(session.keys({QStringLiteral("-k"), key}));
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(typed).size() >= expected.size(), 10000);
    QCOMPARE(TestSupport::readFile(typed), expected);
    QCOMPARE(script.unexpected, QStringList());
    if (comesBack) {
        QVERIFY(session.waitForFocus(getpid()));
    } else {
        // Longer than the run would take to bring the window back.
        QTest::qWait(600);
        QCOMPARE(session.focusedProcess(), terminal);
    }
}

void tst_WaylandTyping::closedTargetGivesMessage()
{
    showWindow(QStringLiteral("secret"));
    session.terminate(terminal);
    QTRY_VERIFY_WITH_TIMEOUT(!session.hasWindow(terminal), 10000);
    ModalScript script;
    script.message();
    QVERIFY(session.keys({QStringLiteral("-k"), QStringLiteral("F8")}));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
}

class tst_XWaylandTyping : public QObject
{
    Q_OBJECT

public:
    explicit tst_XWaylandTyping(HeadlessSway& sway) : session(sway) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typesIntoX11WindowActiveBefore_data();
    void typesIntoX11WindowActiveBefore();

private:
    HeadlessSway& session;
    QString xtermFile;
    pid_t xterm = 0;
    pid_t foot = 0;
};

void tst_XWaylandTyping::initTestCase()
{
    if (!session.error().isEmpty())
        QSKIP(qPrintable("no headless sway with XWayland here: " + session.error()));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    xtermFile = session.folder() + QStringLiteral("/xterm");
}

void tst_XWaylandTyping::init()
{
    QFile::remove(xtermFile);
    xterm = session.startRecorder(QStringLiteral("xterm"), xtermFile);
    QVERIFY(xterm != 0);
    foot =
        session.startRecorder(QStringLiteral("foot"), session.folder() + QStringLiteral("/foot"));
    QVERIFY(foot != 0);
}

void tst_XWaylandTyping::cleanup()
{
    session.terminate(foot);
    session.terminate(xterm);
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
        QVERIFY(session.focus(xterm));
        QVERIFY(session.waitForFocus(xterm));
    }
    const QString token = QString::fromUtf8("s3cr€t-P@ss-äöüßZY😀");
    auto window = EditorWindow::show();
    QVERIFY(session.waitForFocus(getpid()));
    ModalScript script;
    if (!xtermLast)
        script.message();
    // One virtual keyboard types the token into the editor, selects it and presses F10: the
    // X keymap in force is then that keyboard's, holding the token's characters on keycodes
    // that mean other keys on the XTEST keyboard.
    QVERIFY(session.keys({token, "-M", "ctrl", "-M", "shift", "-k", "Home", "-m", "shift", "-m",
                          "ctrl", "-k", "F10"}));
    const QByteArray expected = xtermLast ? token.toUtf8() + '\r' : QByteArray();
    QVERIFY(script.waitUntilDone());
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(xtermFile).size() >= expected.size(), 10000);
    QCOMPARE(TestSupport::readFile(xtermFile), expected);
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(script.messages, xtermLast
                                  ? QStringList()
                                  : QStringList{QStringLiteral("No Window found for typing!")});
    QVERIFY(session.waitForFocus(getpid()));
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--xwayland") == 0) {
        argv[1] = argv[0];
        return HeadlessSway::run<tst_XWaylandTyping>(true, argc - 1, argv + 1);
    }
    return HeadlessSway::run<tst_WaylandTyping>(false, argc, argv);
}

#include "tst_waylandtyping.moc"
