// The lock: sealing the document behind the lock page, and unlocking it again.
#include "Varnisk.h"

#include "ClipboardGuard.h"
#include "FindDialog.h"
#include "LockController.h"
#include "LockPage.h"
#include "MemoryCheck.h"
#include "SecureWipe.h"
#include "ui_VarniskClass.h"

#include <QApplication>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <new>
#include <utility>

bool Varnisk::lock()
{
    if (locked)
        return true;
    closeDialogsForLock();
    restoreKeyboard();

    // Sealed exactly as a Save would write it, so closing while locked can write this image.
    bool sealedNow = false;
    try {
        QString plain = ui->seTextEdit->toPlainText();
        QByteArray text = plain.toUtf8();
        secureWipe(plain);
        sealedNow = sealed.seal(text, named() ? &documentPassword : nullptr);
        secureWipe(text);
    } catch (const std::bad_alloc&) {
    }
    if (!sealedNow) {
        // Nothing is wiped that could not come back; no box, which would wait for an answer.
        ui->statusBar->showMessage(tr("The document could not be locked!"), 0);
        return false;
    }

    const QTextCursor cursor = ui->seTextEdit->textCursor();
    lockedAnchor = cursor.anchor();
    lockedPosition = cursor.position();
    lockedVerticalScroll = ui->seTextEdit->verticalScrollBar()->value();
    lockedHorizontalScroll = ui->seTextEdit->horizontalScrollBar()->value();
    const bool modified = ui->seTextEdit->document()->isModified();
    // What the window put on the clipboard goes, as when it closes.
    clipboardGuard->windowClosing();
    // The freed text, its undo history among it, is overwritten by the heap wiping.
    ui->seTextEdit->clear();
    ui->seTextEdit->document()->clearUndoRedoStacks();
    ui->seTextEdit->document()->setModified(modified);
    textModificationChanged(modified);
    secureClear(documentPassword.string());

    locked = true;
    showLockPage(true);
    LockController::instance().lockStateChanged();
    return true;
}

void Varnisk::closeDialogsForLock()
{
    // Every window of ours over this one, the progress dialog excepted: its work runs on.
    QList<QPair<int, QPointer<QWidget>>> open;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == this || !widget->isVisible() || widget == fileOperation.progressDialog())
            continue;
        int depth = 0;
        const QWidget* parent = widget->parentWidget();
        for (; parent != nullptr && parent != this; parent = parent->parentWidget())
            ++depth;
        if (parent == this)
            open.append({depth, widget});
    }
    // The innermost first: a message box goes before the dialog it stands over.
    std::sort(open.begin(), open.end(),
              [](const auto& first, const auto& second) { return first.first > second.first; });
    for (const auto& entry : std::as_const(open)) {
        QWidget* widget = entry.second;
        if (widget == nullptr || !widget->isVisible())
            continue;
        // Each through its Cancel path: whoever waits on it goes on as after a Cancel.
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
    // The search text may be a piece of a secret: it goes with the dialog that holds it.
    if (findDialog != nullptr) {
        findDialog->forgetSearchText();
        findDialog->hide();
        findDialog->deleteLater();
        findDialog = nullptr;
    }
}

void Varnisk::showLockPage(bool shown)
{
    pages->setCurrentWidget(shown ? static_cast<QWidget*>(lockPage) : ui->centralWidget);
    // Close, Quit and About go on; nothing else may touch the document or the lock.
    for (QAction* action :
         {ui->action_New, ui->action_Open, ui->action_Save, ui->action_Save_As, ui->action_Settings,
          ui->action_Line_Wrap, ui->action_Tab_Width, ui->action_Find, ui->action_Encrypt,
          ui->action_Decrypt, ui->action_Type_Selection, ui->action_Type_Selection_TAB,
          ui->action_Type_Selection_ENTER, ui->action_Lock, ui->action_Preferences})
        action->setEnabled(!shown);
    // A running file operation's progress dialog then stops keeping the user from the page.
    fileOperation.letThrough(shown ? lockPage : nullptr);
    if (shown)
        lockPage->prepare(documentName.isEmpty() ? tr("NoName") : documentName,
                          !sealed.hasOwnKey());
    else
        ui->seTextEdit->setFocus(Qt::OtherFocusReason);
}

void Varnisk::unlockRequested()
{
    if (locked)
        unlock(sealed.hasOwnKey() ? nullptr : &unlockPassword);
}

bool Varnisk::unlock(const SecureStringHolder* password)
{
    QByteArray text;
    // Every failure to decrypt (the engine's exceptions included) is a wrong password here.
    if (!sealed.unseal(password, text)) {
        lockPage->clear();
        critical(tr("Wrong password!"));
        return false;
    }
    // The window stays locked, its document sealed, rather than be ended by a text that Qt cannot
    // hold.
    if (!MemoryCheck::roomForText(text.size())) {
        secureWipe(text);
        lockPage->clear();
        critical(outOfMemoryText());
        return false;
    }
    if (password != nullptr) {
        secureClear(documentPassword.string());
        documentPassword.string() = password->string();
    }
    lockPage->clear();
    const bool modified = ui->seTextEdit->document()->isModified();
    locked = false;
    showLockPage(false);
    ui->seTextEdit->setPlainText(QString::fromUtf8(text.constData(), text.size()));
    secureWipe(text);
    ui->seTextEdit->document()->setModified(modified);
    textModificationChanged(modified);
    {
        // Back exactly where it was, not grown to whole tokens.
        const QScopedValueRollback<bool> exact(selectingMatch, true);
        QTextCursor cursor(ui->seTextEdit->document());
        cursor.setPosition(lockedAnchor);
        cursor.setPosition(lockedPosition, QTextCursor::KeepAnchor);
        ui->seTextEdit->setTextCursor(cursor);
    }
    ui->seTextEdit->verticalScrollBar()->setValue(lockedVerticalScroll);
    ui->seTextEdit->horizontalScrollBar()->setValue(lockedHorizontalScroll);
    sealed.clear();
    LockController::instance().lockStateChanged();

    // What waited for the unlock: the end of a file operation, then files from outside.
    if (heldOperationResult.has_value())
        fileOperationFinished(*std::exchange(heldOperationResult, std::nullopt));
    else if (!fileOperation.isRunning())
        for (const QString& name : std::exchange(deferredOpens, {}))
            openFile(name);
    return true;
}

void Varnisk::aLock()
{
    lock();
}

void Varnisk::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Locked from the event loop, once the window manager is done minimising.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        LockController::instance().settings().onMinimize)
        QTimer::singleShot(0, this, [this]() { lock(); });
}
