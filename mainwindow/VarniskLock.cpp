// The lock: sealing the document behind the lock page, and unlocking it again.
#include "Varnisk.h"

#include "dialogs/FindDialog.h"
#include "dialogs/LockPage.h"
#include "dialogs/MessageBoxes.h"
#include "mainwindow/ClipboardGuard.h"
#include "mainwindow/LockController.h"
#include "platform/WindowSystem.h"
#include "ui_VarniskClass.h"

#include <QScopedValueRollback>
#include <QStackedWidget>
#include <QTimer>

#include <utility>

bool Varnisk::lock()
{
    if (isLocked())
        return true;
    // Every window of ours over this one, the progress dialog excepted: its work runs on.
    WindowLock::closeDialogsOver(this, fileEncryption.operation().progressDialog());
    // The search text may be a piece of a secret: it goes with the dialog that holds it.
    if (findDialog != nullptr) {
        findDialog->forgetSearchText();
        findDialog->hide();
        findDialog->deleteLater();
        findDialog = nullptr;
    }
    windowSystem->restoreKeyboard();
    // Sealed exactly as a Save would write it, in the document's format, so closing while locked
    // can write this image.
    const SecureStringHolder* key = named() ? &documentPassword : nullptr;
    if (!windowLock.seal(*ui->seTextEdit, key, document.derivation()).ok()) {
        // Nothing is wiped that could not come back; no box, which would wait for an answer.
        ui->statusBar->showMessage(tr("The document could not be locked!"), 0);
        return false;
    }
    // What the window put on the clipboard goes, as when it closes.
    clipboardGuard->windowClosing();
    textModificationChanged(ui->seTextEdit->document()->isModified());
    merge.locked();
    secureClear(documentPassword.string());
    fileEncryption.hold();
    showLockPage(true);
    LockController::instance().lockStateChanged();
    return true;
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
    fileEncryption.operation().letThrough(shown ? lockPage : nullptr);
    if (shown)
        lockPage->prepare(documentName.isEmpty() ? tr("NoName") : documentName,
                          !windowLock.sealed().hasOwnKey());
    else
        ui->seTextEdit->setFocus(Qt::OtherFocusReason);
}

bool Varnisk::unlock(const SecureStringHolder* password)
{
    Result unsealed;
    {
        // Back exactly where it was, not grown to whole tokens.
        const QScopedValueRollback<bool> exact(selectingMatch, true);
        unsealed = windowLock.unseal(*ui->seTextEdit, password);
    }
    if (unsealed.ok() && password != nullptr) {
        secureClear(documentPassword.string());
        documentPassword.string() = password->string();
    }
    // The page's field types into the password passed here.
    lockPage->clear();
    if (!unsealed.ok()) {
        // Every failure to decrypt (the engine's exceptions included) is a wrong password here.
        MessageBoxes::report(this, unsealed, OutcomeMessage::Operation::Decrypt);
        return false;
    }
    showLockPage(false);
    textModificationChanged(ui->seTextEdit->document()->isModified());
    if (named())
        merge.rereadBase(documentPath());
    LockController::instance().lockStateChanged();
    // What waited for the unlock: the end of a file operation, then files from outside.
    if (!fileEncryption.release() && !fileEncryption.operation().isRunning())
        for (const QString& name : std::exchange(deferredOpens, {}))
            openFile(name);
    return true;
}

void Varnisk::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Locked from the event loop, once the window manager is done minimising.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        LockController::instance().settings().onMinimize)
        QTimer::singleShot(0, this, [this]() { lock(); });
}
