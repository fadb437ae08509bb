#include "EditorText.h"

#include "securememory/SecureWipe.h"

#include <QPlainTextEdit>
#include <QTextDocument>

QByteArray EditorText::of(const QPlainTextEdit& editor)
{
    // toPlainText() gives a fresh copy of the text, so both copies can be wiped after use.
    QString plain = editor.toPlainText();
    QByteArray text = plain.toUtf8();
    secureWipe(plain);
    return text;
}

QByteArray EditorText::asShown(const QByteArray& plain)
{
    // Made by the editor's own document class, so that no rule of it is missed. Nothing is laid
    // out without a view. The document frees its copies into the wiping heap.
    const int zero = plain.indexOf('\0');
    QString text = QString::fromUtf8(plain.constData(), zero < 0 ? plain.size() : zero);
    QTextDocument document;
    document.setUndoRedoEnabled(false);
    document.setPlainText(text);
    QString shown = document.toPlainText();
    QByteArray bytes = shown.toUtf8();
    secureWipe(shown);
    return bytes;
}
