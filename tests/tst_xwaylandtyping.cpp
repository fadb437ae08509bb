// Type Selection on X11 inside a Wayland session: the main window on XWayland (xcb) in a
// real headless sway, an X11 xterm and a Wayland-native foot. Only the X11 window that was
// active just before the main window may get the keys.
#include "HeadlessSway.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "Varnisk.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

HeadlessSway* session = nullptr;

} // namespace

class tst_XWaylandTyping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nativeWindowBetweenTypesNothing();
    void typesIntoX11WindowActiveBefore();

private:
    void showWindow(const QString& text);

    std::unique_ptr<QTemporaryDir> settingsDir;
    std::unique_ptr<Varnisk> window;
    QString xtermFile;
    pid_t xterm = 0;
    pid_t foot = 0;
};

void tst_XWaylandTyping::initTestCase()
{
    if (!session->error().isEmpty())
        QSKIP(qPrintable("no headless sway with XWayland here: " + session->error()));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    xtermFile = session->folder() + QStringLiteral("/xterm");
}

void tst_XWaylandTyping::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    TestSupport::isolateSettings(*settingsDir);
    QFile::remove(xtermFile);
    xterm = session->startRecorder(QStringLiteral("xterm"), xtermFile);
    QVERIFY(xterm != 0);
    foot =
        session->startRecorder(QStringLiteral("foot"), session->folder() + QStringLiteral("/foot"));
    QVERIFY(foot != 0);
}

void tst_XWaylandTyping::cleanup()
{
    window.reset();
    session->terminate(foot);
    session->terminate(xterm);
    settingsDir.reset();
}

void tst_XWaylandTyping::showWindow(const QString& text)
{
    window = std::make_unique<Varnisk>(nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* editor = window->findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
    editor->setPlainText(text);
    editor->selectAll();
    QVERIFY(session->waitForFocus(getpid()));
}

void tst_XWaylandTyping::nativeWindowBetweenTypesNothing()
{
    // Focus order: xterm, foot (Wayland-native), the main window.
    showWindow(QStringLiteral("secret"));
    ModalScript script;
    script.message();
    QVERIFY(session->keys({QStringLiteral("-k"), QStringLiteral("F8")}));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
    QCOMPARE(TestSupport::readFile(xtermFile), QByteArray());
}

void tst_XWaylandTyping::typesIntoX11WindowActiveBefore()
{
    QVERIFY(session->focus(xterm));
    QVERIFY(session->waitForFocus(xterm));
    const QString token = QString::fromUtf8("Tok€äöüß😀n");
    showWindow(token);
    ModalScript script;
    QVERIFY(session->keys({QStringLiteral("-k"), QStringLiteral("F10")}));
    const QByteArray expected = token.toUtf8() + '\r';
    QVERIFY(TestSupport::waitFor(
        [&] { return TestSupport::readFile(xtermFile).size() >= expected.size(); }));
    QCOMPARE(TestSupport::readFile(xtermFile), expected);
    QCOMPARE(script.unexpected, QStringList());
    QVERIFY(session->waitForFocus(getpid()));
}

int main(int argc, char** argv)
{
    HeadlessSway sway(true);
    if (sway.start()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", sway.xDisplay());
        // Set, as in any Wayland session: it tells the program that X11 is not all there is.
        qputenv("WAYLAND_DISPLAY", sway.waylandDisplay());
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(sway.error()));
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir runtime; // the test's own, so Qt finds one it owns
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    session = &sway;
    int result = 0;
    {
        QApplication application(argc, argv);
        tst_XWaylandTyping test;
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "tst_xwaylandtyping.moc"
