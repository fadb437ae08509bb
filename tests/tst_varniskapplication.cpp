// The application shell: command line, open requests through the worker thread, and the
// windows they go to.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "app/VarniskApplication.h"
#include "app/WorkerThread.h"

#include <QFile>
#include <QFileOpenEvent>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using EditorWindow::visibleWindows;

class tst_VarniskApplication : public QObject
{
    Q_OBJECT

public:
    explicit tst_VarniskApplication(VarniskApplication* app) : application(app) {}

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void optionsRejected();
    void helpNeedsNoDisplay();
    void requestsGoToWindowsInOrder();
    void closedStartupWindowGetsNewWindow();
    void fileOpenEventIsQueued();
    void sameDocumentComesToFront();
    void documentBeingOpenedComesToFront();
    void worker();
    void programSignals();

private:
    QStringList answerMessages(int count);

    VarniskApplication* application;
    QPointer<Varnisk> startupWindow;
};

void tst_VarniskApplication::initTestCase()
{
    const QList<Varnisk*> windows = visibleWindows();
    QCOMPARE(windows.size(), 1);
    startupWindow = windows.first();
    QCOMPARE(startupWindow->windowTitle(), QStringLiteral("Varnisk - NoName"));
    QVERIFY(startupWindow->testAttribute(Qt::WA_DeleteOnClose));
}

QStringList tst_VarniskApplication::answerMessages(int count)
{
    ModalScript script;
    for (int i = 0; i < count; ++i)
        script.message();
    script.waitUntilDone(10000);
    return script.messages;
}

void tst_VarniskApplication::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("no arguments") << QStringList{"varnisk"} << true << QStringList{};
    QTest::newRow("two names") << QStringList{"varnisk", "a.stxt", "dir/b.sdat"} << true
                               << QStringList{"a.stxt", "dir/b.sdat"};
    // --help and --version never get here: main() answers them first (helpNeedsNoDisplay).
    QTest::newRow("unknown option") << QStringList{"varnisk", "--bogus"} << false << QStringList{};
    QTest::newRow("short option") << QStringList{"varnisk", "-x"} << false << QStringList{};
    QTest::newRow("option beside names")
        << QStringList{"varnisk", "a.stxt", "--fast", "b.stxt"} << false << QStringList{};
    QTest::newRow("double dash then dashed name")
        << QStringList{"varnisk", "--", "-odd.stxt"} << true << QStringList{"-odd.stxt"};
    QTest::newRow("lone dash") << QStringList{"varnisk", "-"} << true << QStringList{"-"};
}

void tst_VarniskApplication::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(QStringList, files);
    QStringList parsed;
    QCOMPARE(VarniskApplication::parseCommandLine(arguments, parsed), valid);
    if (valid)
        QCOMPARE(parsed, files);
}

void tst_VarniskApplication::optionsRejected()
{
    ModalScript script;
    QString text;
    script.message(&text);
    QCOMPARE(application->run({"varnisk", "a.stxt", "--bogus"}), -1);
    QVERIFY(script.done());
    QCOMPARE(text, QStringLiteral("Invalid command line option(s)!"));
    // Nothing was queued: no window opens anything afterwards.
    QTest::qWait(100);
    QCOMPARE(visibleWindows().size(), 1);
}

void tst_VarniskApplication::helpNeedsNoDisplay()
{
    // Answered before the application object exists: an application would need a display.
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(TestSupport::binaryPath(QStringLiteral("app/varnisk")), {"--help"});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardOutput().startsWith("Usage: varnisk"));
}

void tst_VarniskApplication::requestsGoToWindowsInOrder()
{
    QTemporaryDir dir;
    const QStringList names = {dir.filePath("first.stxt"), dir.filePath("second.sdat"),
                               dir.filePath("third.txt")};
    TestSupport::writeFile(names[2], "plain");
    for (const QString& name : names)
        application->requestOpen(name);

    // Each request is carried out in its own window, the first in the start-up one. Their
    // message boxes stack up, so they are answered newest first.
    QStringList texts = answerMessages(3);
    texts.sort();
    QCOMPARE(texts, QStringList({"File does not exsist!", "File does not exsist!",
                                 "File type not supported!"}));
    const QList<Varnisk*> windows = visibleWindows();
    QCOMPARE(windows.size(), 3);
    QVERIFY(windows.contains(startupWindow.data()));
    for (Varnisk* window : windows) {
        QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
        if (window != startupWindow)
            window->close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindows().size() == 1, 10000);
}

void tst_VarniskApplication::closedStartupWindowGetsNewWindow()
{
    // The start-up window was used by the first request above; close all and start again.
    QVERIFY(startupWindow);
    startupWindow->close();
    QTRY_VERIFY_WITH_TIMEOUT(startupWindow.isNull(), 10000);
    QVERIFY(visibleWindows().isEmpty());
    application->requestOpen(QStringLiteral("/nonexistent/x.stxt"));
    QCOMPARE(answerMessages(1), QStringList({"File does not exsist!"}));
    QCOMPARE(visibleWindows().size(), 1);
    startupWindow = visibleWindows().first();
}

void tst_VarniskApplication::fileOpenEventIsQueued()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("sent.simg"));
    TestSupport::writeFile(name, "x");
    QFileOpenEvent event(name);
    QApplication::sendEvent(application, &event);
    // A later request gets a window of its own, which opens the decryption dialog.
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindows().size() == 2, 10000);
    Varnisk* fresh = nullptr;
    for (Varnisk* window : visibleWindows()) {
        if (window != startupWindow)
            fresh = window;
    }
    QVERIFY(fresh != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(
        fresh->statusBar()->currentMessage() == QLatin1String("Decrypting: sent.simg"), 10000);
    ModalScript script;
    script.cancel();
    QVERIFY(script.waitUntilDone());
    fresh->close();
}

void tst_VarniskApplication::sameDocumentComesToFront()
{
    // A document that a window shows already, asked for again (also under another name of the
    // same file): that window comes to the front, and nothing opens a second copy.
    QTemporaryDir dir;
    const QString doc = dir.filePath(QStringLiteral("doc.stxt"));
    QVERIFY(TestSupport::encryptToFile(doc, "text", "pw"));
    QVERIFY(QFile::link(doc, dir.filePath(QStringLiteral("link.stxt"))));
    ModalScript script;
    script.password("pw");
    application->requestOpen(doc);
    QVERIFY(script.waitUntilDone());
    const QList<Varnisk*> windows = visibleWindows();
    Varnisk* showing = nullptr;
    for (Varnisk* window : windows) {
        if (window->windowTitle() == QLatin1String("Varnisk - doc.stxt"))
            showing = window;
    }
    QVERIFY(showing != nullptr);
    startupWindow->activateWindow();
    ModalScript none;
    application->requestOpen(dir.filePath(QStringLiteral("link.stxt")));
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == showing, 10000);
    QCOMPARE(visibleWindows(), windows);
    QCOMPARE(none.unexpected, QStringList());
    showing->close();
}

void tst_VarniskApplication::documentBeingOpenedComesToFront()
{
    // Handed over again while its window still asks for the password: that window comes to the
    // front with the keyboard in its dialog, and no second window asks for it too.
    QTemporaryDir dir;
    const QString doc = dir.filePath(QStringLiteral("asked.stxt"));
    QVERIFY(TestSupport::encryptToFile(doc, "text", "pw"));
    const int before = visibleWindows().size();
    application->open(doc);
    const QList<Varnisk*> asking = visibleWindows();
    startupWindow->activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == startupWindow, 10000);
    application->open(doc);
    QCOMPARE(visibleWindows(), asking);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() != nullptr &&
                                 QApplication::activeWindow()->inherits("PasswordDialog"),
                             10000);
    ModalScript script;
    script.password("pw");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpected, QStringList());
    int showing = 0;
    for (Varnisk* window : visibleWindows()) {
        if (window->windowTitle() == QLatin1String("Varnisk - asked.stxt")) {
            ++showing;
            window->close();
        }
    }
    QCOMPARE(showing, 1);
    QTRY_COMPARE_WITH_TIMEOUT(visibleWindows().size(), before, 10000);
}

void tst_VarniskApplication::worker()
{
    // Many names come out in the order they went in.
    WorkerThread worker(application);
    QObject::disconnect(&worker, &WorkerThread::open, application, nullptr);
    QSignalSpy spy(&worker, &WorkerThread::open);
    worker.start();
    QStringList names;
    for (int i = 0; i < 2000; ++i) {
        names << QStringLiteral("file%1.stxt").arg(i);
        worker.enqueue(names.last());
    }
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() == names.size(), 30000);
    QStringList received;
    for (const QList<QVariant>& arguments : spy)
        received << arguments.first().toString();
    QCOMPARE(received, names);
    worker.stop();
    QVERIFY(worker.wait(10000));

    // It stops with names still queued, and an idle one is woken by the shutdown.
    WorkerThread busy(application);
    QObject::disconnect(&busy, &WorkerThread::open, application, nullptr);
    for (int i = 0; i < 10000; ++i)
        busy.enqueue(QStringLiteral("queued%1").arg(i));
    busy.stop();
    busy.start();
    QVERIFY2(busy.wait(10000), "the worker did not end with names still queued");
    WorkerThread idle(application);
    idle.start();
    QTest::qWait(20);
    idle.stop();
    QVERIFY2(idle.wait(10000), "an idle worker was not woken by the shutdown");
}

void tst_VarniskApplication::programSignals()
{
    // A file-size limit must not kill the editor during a save: it ignores SIGXFSZ from the
    // start. SIGTERM ends it by that signal (the signal path behind it is tst_secretsdocument's
    // matter), as soon as its handler is in: also before its event loop runs. The kernel's lists
    // of ignored and caught signals show both.
    QProcess program;
    program.start(TestSupport::binaryPath(QStringLiteral("app/varnisk")), QStringList());
    QVERIFY(program.waitForStarted());
    const QString status = QStringLiteral("/proc/%1/status").arg(program.processId());
    const auto has = [&status](const char* list, int number) {
        const QByteArray text = TestSupport::readFile(status);
        const int at = text.indexOf(list) + 7;
        const quint64 mask =
            text.mid(at, text.indexOf('\n', at) - at).trimmed().toULongLong(nullptr, 16);
        return (mask & (quint64(1) << (number - 1))) != 0;
    };
    // Both, as the child of this test (which catches SIGTERM itself) catches it until its exec.
    QTRY_VERIFY_WITH_TIMEOUT(has("SigCgt:", SIGTERM) && has("SigIgn:", SIGXFSZ), 10000);
    QCOMPARE(kill(program.processId(), SIGTERM), 0);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    QCOMPARE(program.exitCode(), SIGTERM);
}

int main(int argc, char** argv)
{
    QTemporaryDir settings;
    TestSupport::isolateSettings(settings);
    VarniskApplication application(argc, argv);
    tst_VarniskApplication test(&application);
    const int failures = QTest::qExec(&test, argc, argv);
    // The windows the rows left open go before the application, as closing the program's last
    // window would take them.
    QList<QPointer<QWidget>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->parentWidget() == nullptr)
            windows << widget;
    }
    for (const QPointer<QWidget>& window : windows)
        delete window.data();
    return failures;
}

#include "tst_varniskapplication.moc"
