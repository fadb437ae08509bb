#include "ClipboardGuard.h"

#include <QApplication>
#include <QClipboard>
#include <QWidget>

namespace {

const QString passwordManagerHint = QStringLiteral("x-kde-passwordManagerHint");

} // namespace

ClipboardGuard::ClipboardGuard(QWidget* guarded) : QObject(guarded), window(guarded)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    connect(clipboard, &QClipboard::selectionChanged, this, &ClipboardGuard::selectionChanged);
    connect(clipboard, &QClipboard::dataChanged, this, &ClipboardGuard::clipboardChanged);
}

void ClipboardGuard::windowClosing()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (copied != nullptr && clipboard->ownsClipboard() && clipboard->mimeData() == copied)
        clipboard->clear();
}

void ClipboardGuard::selectionChanged()
{
    // Qt tells of a new selection of ours from within the call that published it, before the
    // event loop can answer another program's request for it: withdrawn here, it never leaves.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->ownsSelection())
        clipboard->clear(QClipboard::Selection);
}

void ClipboardGuard::clipboardChanged()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard())
        return;
    const QMimeData* data = clipboard->mimeData();
    if (data == nullptr)
        return;
    if (!data->hasFormat(passwordManagerHint)) {
        // Replaced before anyone could ask for it, as above. Only the plain text goes on: the
        // editor's rich-text renderings of it would be further copies of the secret.
        auto* marked = new QMimeData;
        marked->setText(data->text());
        marked->setData(passwordManagerHint, QByteArrayLiteral("secret"));
        clipboard->setMimeData(marked); // comes back here with the marked data
        return;
    }
    if (windowHasFocus())
        copied = data;
}

bool ClipboardGuard::windowHasFocus() const
{
    // The window's own dialogs (Find) count as the window.
    for (const QWidget* widget = QApplication::focusWidget(); widget != nullptr;
         widget = widget->parentWidget()) {
        if (widget == window)
            return true;
    }
    return false;
}
