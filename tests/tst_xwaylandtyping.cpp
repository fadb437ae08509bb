// Type Selection on X11 inside a Wayland session: the main window on XWayland (xcb) in a
// real headless sway, an X11 xterm and a Wayland-native foot. Only the X11 window that was
// active just before the main window may get the keys.
#include "EditorWindow.h"
#include "HeadlessSway.h"
#include "ModalScript.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

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
    QTemporaryDir settings;
    QString xtermFile;
    pid_t xterm = 0;
    pid_t foot = 0;
};

void tst_XWaylandTyping::initTestCase()
{
    if (!session.error().isEmpty())
        QSKIP(qPrintable("no headless sway with XWayland here: " + session.error()));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    TestSupport::isolateSettings(settings);
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
    const QString token = QString::fromUtf8("Tok€äöüß😀n");
    auto window = EditorWindow::show(token);
    QVERIFY(session.waitForFocus(getpid()));
    ModalScript script;
    if (!xtermLast)
        script.message();
    QVERIFY(session.keys({QStringLiteral("-k"), QStringLiteral("F10")}));
    const QByteArray expected = xtermLast ? token.toUtf8() + '\r' : QByteArray();
    QVERIFY(script.waitUntilDone());
    QVERIFY(TestSupport::waitFor(
        [&] { return TestSupport::readFile(xtermFile).size() >= expected.size(); }));
    QCOMPARE(TestSupport::readFile(xtermFile), expected);
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(script.messages, xtermLast
                                  ? QStringList()
                                  : QStringList{QStringLiteral("No Window found for typing!")});
    QVERIFY(session.waitForFocus(getpid()));
}

int main(int argc, char** argv)
{
    return HeadlessSway::run<tst_XWaylandTyping>(true, argc, argv);
}

#include "tst_xwaylandtyping.moc"
