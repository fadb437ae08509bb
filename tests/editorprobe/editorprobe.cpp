// Stands in for the editor in the memory tests. It starts as the program does (protection,
// heap wiping) and keeps one editor window, driven by one command per line on standard input;
// each is answered with "ok" or "failed: ..." on standard output, after which the test looks
// into this process's memory. Dialogs are answered as a user would.
//
//   editorprobe PASSWORD-HEAD PASSWORD-TAIL
//
//   open PATH   open a secrets document (a "Save changes?" is answered No), typing the password
//               in its two halves
//   edit        delete the first line and type a word, so the undo history holds that line
//   new         File > New (No to "Save changes?")
//   close       close the window (No to "Save changes?")
//   lock        File > Lock
//   locked      "ok" when the window is locked (by whatever locked it), else "failed: unlocked"
//   unlock      type the password into the lock page and press Return
#include "EditorWindow.h"
#include "ModalScript.h"
#include "ProcessProtection.h"
#include "TestSupport.h"
#include "Varnisk.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>

#include <cstdio>

#include <unistd.h>

namespace {

void answerSaveChangesWithNo(Varnisk* window, ModalScript& script)
{
    if (EditorWindow::editor(*window)->document()->isModified())
        script.answer(QMessageBox::No);
}

QString run(QPointer<Varnisk>& window, const QString& command, const QStringList& password)
{
    if (window == nullptr)
        return QStringLiteral("no window");
    ModalScript script;
    if (command.startsWith(QLatin1String("open "))) {
        const QString path = command.mid(5);
        answerSaveChangesWithNo(window, script);
        script.then([&password](QWidget* dialog) {
            QWidget* field = dialog->findChild<QWidget*>(QStringLiteral("slePassword"));
            for (const QString& half : password)
                typeText(field, half);
            dialog->findChild<QPushButton*>(QStringLiteral("bOk"))->click();
        });
        window->openFile(path);
        if (!script.waitUntilDone() || !window->windowTitle().contains(QFileInfo(path).fileName()))
            return QStringLiteral("not opened: ") + script.unexpected.join(QLatin1Char(';'));
    } else if (command == QLatin1String("edit")) {
        QPlainTextEdit* editor = EditorWindow::editor(*window);
        QTest::keyClick(editor, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(editor, Qt::Key_Delete);
        QTest::keyClicks(editor, QStringLiteral("edited"));
    } else if (command == QLatin1String("new")) {
        answerSaveChangesWithNo(window, script);
        EditorWindow::trigger(*window, "action_New");
        script.waitUntilDone();
    } else if (command == QLatin1String("close")) {
        answerSaveChangesWithNo(window, script);
        window->close();
        if (!TestSupport::waitFor([&window] { return window == nullptr; }))
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
        if (!TestSupport::waitFor([&window]() { return !window->isLocked(); }))
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
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    const QStringList password = application.arguments().mid(1, 2);

    QPointer<Varnisk> window = new Varnisk(nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();

    // The event loop runs between commands too, so that what comes over D-Bus or from a timer
    // is handled while the test waits.
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&]() {
        char buffer[4096];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<int>(got));
        input.setEnabled(false); // no command starts inside another one's waiting
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString command = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            const QString failure = run(window, command, password);
            std::printf("%s\n", failure.isEmpty() ? "ok" : qPrintable("failed: " + failure));
            std::fflush(stdout);
        }
        input.setEnabled(true);
    });
    application.exec();
    delete window;
    return 0;
}
