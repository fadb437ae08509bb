#include "WindowLock.h"

#include "mainwindow/MemoryCheck.h"
#include "securememory/SecureWipe.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>
#include <new>
#include <utility>

Result WindowLock::seal(QPlainTextEdit& editor, const SecureStringHolder* key,
                        KeyDerivation derivation)
{
    if (locked)
        return {};
    Result sealedNow;
    try {
        QString plain = editor.toPlainText();
        QByteArray text = plain.toUtf8();
        secureWipe(plain);
        sealedNow = sealedText.seal(text, key, derivation);
        secureWipe(text);
    } catch (const std::bad_alloc&) {
        sealedNow = Result::outOfMemory();
    }
    if (!sealedNow.ok())
        return sealedNow;
    const QTextCursor cursor = editor.textCursor();
    anchor = cursor.anchor();
    position = cursor.position();
    verticalScroll = editor.verticalScrollBar()->value();
    horizontalScroll = editor.horizontalScrollBar()->value();
    const bool modified = editor.document()->isModified();
    // The freed text, its undo history among it, is overwritten by the heap wiping.
    editor.clear();
    editor.document()->clearUndoRedoStacks();
    editor.document()->setModified(modified);
    locked = true;
    return {};
}

Result WindowLock::unseal(QPlainTextEdit& editor, const SecureStringHolder* key)
{
    QByteArray text;
    if (!sealedText.unseal(key, text).ok())
        return {Result::Outcome::WrongPassword, {}};
    // The window stays locked, its document sealed, rather than be ended by a text that Qt cannot
    // hold.
    if (!MemoryCheck::roomForText(text.size())) {
        secureWipe(text);
        return Result::outOfMemory();
    }
    const bool modified = editor.document()->isModified();
    locked = false;
    editor.setPlainText(QString::fromUtf8(text.constData(), text.size()));
    secureWipe(text);
    editor.document()->setModified(modified);
    // Back exactly where it was.
    QTextCursor cursor(editor.document());
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
    editor.verticalScrollBar()->setValue(verticalScroll);
    editor.horizontalScrollBar()->setValue(horizontalScroll);
    sealedText.clear();
    return {};
}

void WindowLock::closeDialogsOver(QWidget* window, const QWidget* except)
{
    QList<QPair<int, QPointer<QWidget>>> open;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == window || !widget->isVisible() || widget == except)
            continue;
        int depth = 0;
        const QWidget* parent = widget->parentWidget();
        for (; parent != nullptr && parent != window; parent = parent->parentWidget())
            ++depth;
        if (parent == window)
            open.append({depth, widget});
    }
    // The innermost first: a message box goes before the dialog it stands over.
    std::sort(open.begin(), open.end(),
              [](const auto& first, const auto& second) { return first.first > second.first; });
    for (const auto& entry : std::as_const(open)) {
        QWidget* widget = entry.second;
        if (widget == nullptr || !widget->isVisible())
            continue;
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            box->close();
            if (box->isVisible()) // a box without a Cancel-like button refuses close()
                box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(widget)) {
            dialog->reject();
        } else {
            widget->close();
        }
    }
}
