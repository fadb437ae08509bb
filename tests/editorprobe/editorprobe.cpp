// Stands in for the editor in the memory tests. It starts as the program does (protection,
// heap wiping) and keeps one editor window, driven by one command per line on standard input;
// each is answered with "ok" or "failed: ..." on standard output, after which the test looks
// into this process's memory. Dialogs are answered as a user would.
//
//   editorprobe PASSWORD-HEAD PASSWORD-TAIL [SEARCH-HEAD SEARCH-TAIL]
//
//   open PATH   open a secrets document (a "Save changes?" is answered No), typing the password
//               in its two halves
//   edit        delete the first line and type a word, so the undo history holds that line
//   find        type the search text in its two halves into Find and find it in the document
//   new         File > New (No to "Save changes?")
//   close       close the window (No to "Save changes?")
//   lock        File > Lock
//   locked      "ok" when the window is locked (by whatever locked it), else "failed: unlocked"
//   unlock      type the password into the lock page and press Return
//   save        File > Save; any question it asks counts as unexpected and is cancelled
//   merge       File > Save, merging the version another writer saved (Ok to the message)
//   decrypt SOURCE TARGET
//               start decrypting SOURCE into TARGET, typing the password; answered once the
//               work runs
//   title       answered with "ok " and the window title
//   password    type the password into the next password dialog, in whichever window it comes
//   message     press OK in the next message box; answered with "ok " and its text
//   windows     answered with "ok " and the sorted titles of the editor windows, joined by "|",
//               the active one marked with "*"
//
// With VARNISK_PROBE_INSTANCE=1 it starts as the program does, as the session's one Varnisk
// (splash screen, start-up window, the files other `varnisk` runs hand over); the window driven
// is the start-up window.
// As the program does, it ends by SIGTERM, SIGHUP and SIGINT through its signal path.
// VARNISK_PROBE_NAMED_TEMPORARIES=1 makes its writes use named temporary files, as on file
// systems without unnamed ones.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "app/TerminationSignals.h"
#include "app/VarniskApplication.h"
#include "files/FileSystemCalls.h"
#include "mainwindow/Varnisk.h"
#include "securememory/ProcessProtection.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include <poll.h>
#include <unistd.h>

namespace {

void answerSaveChangesWithNo(Varnisk* window, ModalScript& script)
{
    if (EditorWindow::editor(*window)->document()->isModified())
        script.answer(QMessageBox::No);
}

// Types the password in its halves into the next password dialog, and presses Ok.
ModalScript& typePassword(ModalScript& script, const QStringList& password)
{
    return script.then([&password](QWidget* dialog) {
        QWidget* field = dialog->findChild<QWidget*>(QStringLiteral("slePassword"));
        for (const QString& half : password)
            typeText(field, half);
        dialog->findChild<QPushButton*>(QStringLiteral("bOk"))->click();
    });
}

QString run(QPointer<Varnisk>& window, const QString& command, const QStringList& password,
            const QStringList& search)
{
    if (window == nullptr)
        return QStringLiteral("no window");
    ModalScript script;
    if (command.startsWith(QLatin1String("open "))) {
        const QString path = command.mid(5);
        answerSaveChangesWithNo(window, script);
        typePassword(script, password);
        window->openFile(path);
        if (!script.waitUntilDone() || !window->windowTitle().contains(QFileInfo(path).fileName()))
            return QStringLiteral("not opened: ") + script.unexpected.join(QLatin1Char(';'));
    } else if (command == QLatin1String("edit")) {
        QPlainTextEdit* editor = EditorWindow::editor(*window);
        QTest::keyClick(editor, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(editor, Qt::Key_Delete);
        QTest::keyClicks(editor, QStringLiteral("edited"));
    } else if (command == QLatin1String("find")) {
        EditorWindow::trigger(*window, "action_Find");
        auto* dialog = window->findChild<QDialog*>(QStringLiteral("FindDialog"));
        for (const QString& half : search)
            QTest::keyClicks(dialog->findChild<QWidget*>(QStringLiteral("leFind")), half);
        dialog->findChild<QPushButton*>(QStringLiteral("bFind"))->click();
        if (!EditorWindow::editor(*window)->textCursor().hasSelection())
            return QStringLiteral("not found");
    } else if (command == QLatin1String("save")) {
        EditorWindow::trigger(*window, "action_Save");
    } else if (command == QLatin1String("merge")) {
        script.press(QStringLiteral("&Merge")).message();
        EditorWindow::trigger(*window, "action_Save");
        script.waitUntilDone();
    } else if (command == QLatin1String("title")) {
        return QStringLiteral("ok ") + window->windowTitle();
    } else if (command == QLatin1String("password")) {
        if (!typePassword(script, password).waitUntilDone())
            return QStringLiteral("no password dialog");
    } else if (command == QLatin1String("message")) {
        QString text;
        if (!script.message(&text).waitUntilDone())
            return QStringLiteral("no message");
        return QStringLiteral("ok ") + text;
    } else if (command == QLatin1String("windows")) {
        QStringList titles;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<Varnisk*>(widget) != nullptr && widget->isVisible())
                titles << (widget->isActiveWindow() ? "*" : "") + widget->windowTitle();
        }
        titles.sort();
        return QStringLiteral("ok ") + titles.join(QLatin1Char('|'));
    } else if (command.startsWith(QLatin1String("decrypt "))) {
        const QStringList paths = command.mid(8).split(QLatin1Char(' '));
        typePassword(script, password).chooseFile(paths.value(1));
        window->decryptFile(paths.value(0));
        if (!script.waitUntilDone())
            return QStringLiteral("not started: ") + script.unexpected.join(QLatin1Char(';'));
    } else if (command == QLatin1String("new")) {
        answerSaveChangesWithNo(window, script);
        EditorWindow::trigger(*window, "action_New");
        script.waitUntilDone();
    } else if (command == QLatin1String("close")) {
        answerSaveChangesWithNo(window, script);
        window->close();
        if (!QTest::qWaitFor([&window] { return window == nullptr; }, 10000))
            return QStringLiteral("the window is still there");
    } else if (command == QLatin1String("lock")) {
        EditorWindow::trigger(*window, "action_Lock");
        if (!window->isLocked())
            return QStringLiteral("not locked");
    } else if (command == QLatin1String("locked")) {
        if (!window->isLocked())
            return QStringLiteral("unlocked");
    } else if (command == QLatin1String("unlock")) {
        QWidget* field = window->findChild<QWidget*>(QStringLiteral("LockPage"))
                             ->findChild<QWidget*>(QStringLiteral("slePassword"));
        for (const QString& half : password)
            typeText(field, half);
        QTest::keyClick(field, Qt::Key_Return);
        if (!QTest::qWaitFor([&window]() { return !window->isLocked(); }, 10000))
            return QStringLiteral("still locked");
    } else {
        return QStringLiteral("unknown command");
    }
    if (!script.unexpected.isEmpty())
        return QStringLiteral("unexpected ") + script.unexpected.join(QLatin1Char(';'));
    // Deferred deletions (dialogs, clipboard data, the closed window) run before the answer.
    QTest::qWait(50);
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    ProcessProtection::apply();
    const bool instance = qEnvironmentVariableIntValue("VARNISK_PROBE_INSTANCE") == 1;
    // The passwords are no file names for the program's command line.
    int programArgc = 1;
    const std::unique_ptr<QApplication> application =
        instance ? std::make_unique<VarniskApplication>(programArgc, argv,
                                                        VarniskApplication::Instance::Session)
                 : std::make_unique<QApplication>(argc, argv);
    application->setQuitOnLastWindowClosed(false);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QStringList password = arguments.mid(0, 2);
    const QStringList search = arguments.mid(2, 2);
    std::optional<TerminationSignals> signalPath; // the program has its own
    if (!instance)
        signalPath.emplace();
    if (qEnvironmentVariableIntValue("VARNISK_PROBE_NAMED_TEMPORARIES") == 1)
        FileSystemCalls::instance().unnamedTemporaries = false;

    QPointer<Varnisk> window;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* startup = qobject_cast<Varnisk*>(widget))
            window = startup;
    }
    if (!instance) {
        window = new Varnisk(nullptr);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
    }

    // Standard input is read beside the event loop, which must run between commands: signals
    // are handled there.
    QByteArray pending;
    for (;;) {
        const int end = pending.indexOf('\n');
        if (end < 0) {
            pollfd input = {STDIN_FILENO, POLLIN, 0};
            if (poll(&input, 1, 20) <= 0) {
                QCoreApplication::processEvents();
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            pending.append(buffer, static_cast<int>(count));
            continue;
        }
        const QString line = QString::fromUtf8(pending.left(end));
        pending.remove(0, end + 1);
        const QString failure = run(window, line, password, search);
        const QString answer = failure.isEmpty()                          ? QStringLiteral("ok")
                               : failure.startsWith(QLatin1String("ok ")) ? failure
                                                                          : "failed: " + failure;
        // One line per answer, whatever the message boxes said.
        std::printf("%s\n",
                    qPrintable(QString(answer).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        std::fflush(stdout);
    }
    // Before the application, with the windows files handed over opened.
    QList<QPointer<QWidget>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->parentWidget() == nullptr)
            windows << widget;
    }
    for (const QPointer<QWidget>& widget : windows)
        delete widget.data();
    return 0;
}
