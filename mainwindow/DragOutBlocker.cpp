#include "DragOutBlocker.h"

#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextCursor>

DragOutBlocker::DragOutBlocker(QPlainTextEdit* textEdit) : QObject(textEdit), editor(textEdit)
{
    // The editor's own mouse handling sits behind its viewport.
    editor->viewport()->installEventFilter(this);
}

bool DragOutBlocker::eventFilter(QObject* /*watched*/, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    const auto* press = static_cast<QMouseEvent*>(event);
    QTextCursor cursor = editor->textCursor();
    if (press->button() != Qt::LeftButton || (press->modifiers() & Qt::ShiftModifier) ||
        !cursor.hasSelection())
        return false;
    const int at = editor->cursorForPosition(press->pos()).position();
    if (at >= cursor.selectionStart() && at <= cursor.selectionEnd()) {
        // Without a selection under it, the press starts a selection, never a drag.
        cursor.clearSelection();
        editor->setTextCursor(cursor);
    }
    return false;
}
