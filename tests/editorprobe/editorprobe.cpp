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
#include <QTest>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void answerSaveChangesWithNo(Varnisk* window, ModalScript& script)
{
    if (EditorWindow::editor(*window)->document()->isModified())
        script.answer(QMessageBox::No);
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
    } else if (command == QLatin1String("find")) {
        EditorWindow::trigger(*window, "action_Find");
        auto* dialog = window->findChild<QDialog*>(QStringLiteral("FindDialog"));
        for (const QString& half : search)
            QTest::keyClicks(dialog->findChild<QWidget*>(QStringLiteral("leFind")), half);
        dialog->findChild<QPushButton*>(QStringLiteral("bFind"))->click();
        if (!EditorWindow::editor(*window)->textCursor().hasSelection())
            return QStringLiteral("not found");
    } else if (command == QLatin1String("new")) {
        answerSaveChangesWithNo(window, script);
        EditorWindow::trigger(*window, "action_New");
        script.waitUntilDone();
    } else if (command == QLatin1String("close")) {
        answerSaveChangesWithNo(window, script);
        window->close();
        if (!TestSupport::waitFor([&window] { return window == nullptr; }))
            return QStringLiteral("the window is still there");
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
    const QStringList search = application.arguments().mid(3, 2);

    QPointer<Varnisk> window = new Varnisk(nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();

    std::string line;
    while (std::getline(std::cin, line)) {
        const QString failure = run(window, QString::fromStdString(line), password, search);
        std::printf("%s\n", failure.isEmpty() ? "ok" : qPrintable("failed: " + failure));
        std::fflush(stdout);
    }
    delete window;
    return 0;
}
