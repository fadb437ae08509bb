#pragma once

#include "TestSupport.h"
#include "mainwindow/Varnisk.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>

#include <memory>

// The editor window as the tests drive it (header only: the tests that use it link the window).
namespace EditorWindow {

inline QPlainTextEdit* editor(QWidget& window)
{
    return window.findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
}

inline void trigger(QWidget& window, const char* action)
{
    window.findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

// Replaces the text as a user's edit would: the document is modified.
inline void edit(QWidget& window, const QString& text)
{
    editor(window)->setPlainText(text);
    editor(window)->document()->setModified(true);
}

// An operation has ended: every password field is empty, and so is the status bar (waited
// for, as the end of a run on the worker thread comes through the event loop).
inline bool cleared(Varnisk& window)
{
    return QTest::qWaitFor(
        [&window] {
            for (QLineEdit* field : window.findChildren<QLineEdit*>()) {
                if (field->objectName().startsWith(QLatin1String("sle")) &&
                    !field->text().isEmpty())
                    return false;
            }
            return window.statusBar()->currentMessage().isEmpty();
        },
        10000);
}

// A new window, shown and exposed (with `active`, also activated), holding `text` unmodified and
// all selected; it types through `system` if given.
inline std::unique_ptr<Varnisk> show(const QString& text = {}, bool active = false,
                                     std::shared_ptr<WindowSystem> system = {})
{
    auto window = std::make_unique<Varnisk>(nullptr);
    if (system)
        window->setWindowSystem(std::move(system));
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("the window was not exposed");
    if (active) {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get(), 10000))
            qWarning("the window did not become active");
    }
    editor(*window)->setPlainText(text);
    editor(*window)->selectAll();
    return window;
}

// The editor windows on screen.
inline QList<Varnisk*> visibleWindows()
{
    QList<Varnisk*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Varnisk*>(widget); window && window->isVisible())
            windows << window;
    }
    return windows;
}

} // namespace EditorWindow
