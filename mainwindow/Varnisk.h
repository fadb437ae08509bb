#pragma once

#include "dialogs/PasswordConfirmDialog.h"
#include "dialogs/PasswordDialog.h"
#include "documents/DocumentStore.h"
#include "mainwindow/DocumentMerge.h"
#include "mainwindow/FileEncryption.h"
#include "mainwindow/PasswordFlow.h"
#include "mainwindow/TypeSelectionKey.h"
#include "mainwindow/WindowLock.h"
#include "securememory/SecureStringHolder.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class ClipboardGuard;
class FindDialog;
class LockPage;
class VarniskApplication;
class WindowSystem;
class QCloseEvent;
class QStackedWidget;

namespace Ui {
class VarniskClass;
}

// The editor window: one secrets document in a plain-text editor, the actions that open, save,
// encrypt and decrypt files, and Type Selection into the window behind. The window holds the
// document's name and password and the password slots of its operations, and delegates: the
// document on disk to its DocumentStore, merging another version of it to its DocumentMerge, the
// sealed text of a locked window to its WindowLock, the two halves of each password operation to
// a PasswordFlow, Encrypt and Decrypt File's work to its FileEncryption.
class Varnisk : public QMainWindow
{
    Q_OBJECT

public:
    explicit Varnisk(VarniskApplication* application);
    ~Varnisk() override;

    // Opens a file that came from outside the menus (command line, system) by its suffix.
    void openFile(const QString& fileName);
    // First half of decrypting an encrypted data file or image.
    void decryptFile(const QString& fileName);

    // The window-system layer Type Selection uses: the process's own, or a recording one in
    // tests. Without one the window finds no window to type into.
    void setWindowSystem(std::shared_ptr<WindowSystem> system);

    // Seals the document and shows the lock page instead; asks nothing and closes every dialog
    // of the window as cancelled. True once the window is locked (also if it was already).
    bool lock();
    [[nodiscard]] bool isLocked() const { return windowLock.isLocked(); }

    // The window of this process that shows the document at `path` (the same file: device and
    // inode), or is opening it (asks for its password, or reads it), if any.
    static Varnisk* windowShowing(const QString& path);
    // Shows the window above the others, with the keyboard focus (in the dialog it waits in).
    void bringToFront();

    // For a program about to end by a signal; none of them shows a dialog. Writes a modified
    // document that has a name (and so a password) to its recovery file; true when there was
    // nothing to write or it was written. What happened goes to standard error.
    bool writeRecovery();
    // Writes this window's settings, as closing it does.
    void writeSettings();
    // Cancels a running encryption or decryption and waits until it has cleaned up or
    // `deadline` has passed; what it ends with is not shown any more.
    bool cancelFileWork(QDeadlineTimer deadline);

private slots:
    void aNew();
    void aOpen();
    void aSave();
    void aSaveAs();
    void aSettings();
    void aPreferences();
    void aLineWrap();
    void aTabWidth();
    void aFind();
    void aEncrypt();
    void aDecrypt();
    void aTypeSelection();
    void aTypeSelectionTab();
    void aTypeSelectionEnter();
    void aAbout();
    void findNext();
    void textModificationChanged(bool change);
    void textSelectionChanged();

public slots:
    void openSecretsContinued(int result);
    void saveSecretsAsContinued(int result);
    void decryptFileContinued(int result);
    void encryptFileContinued(int result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int maybeSave();
    bool saveAsAndWait();
    void startNewDocument();
    void openSecrets(const QString& path);
    // True when the password may have been wrong, and so is worth asking again.
    bool openDocument();
    bool named() const { return !documentDir.isEmpty() && !documentName.isEmpty(); }
    // The modal dialog of this window that waits for an answer, topmost first, if any.
    QWidget* waitingDialog() const;
    QString documentPath() const;
    // How a save ended.
    enum class SaveOutcome
    {
        Saved,
        Failed,    // the user was told why; the document stays modified
        Cancelled, // the user cancelled the changed-on-disk question: nothing was written
        SaveAs,    // the user chose to save under another name instead
        Merged,    // the user chose to merge the version on disk into the editor: nothing written
    };
    // Saves the document (the editor's text, or `sealedImage`) to its own path (it must have
    // one): asks first when the file there is no longer the version this window last opened or
    // saved, and keeps the replaced version as a backup. A locked window passes its sealed image
    // and `offerSaveAs` false (it shows no file dialog).
    SaveOutcome saveDocument(const QByteArray* sealedImage = nullptr, bool offerSaveAs = true);
    void readSettings();
    void typeSelection(TypeSelectionKey key);
    void showLockPage(bool shown);
    // Unseals with `password` (null for a document sealed under its own key); tells the user
    // what failed.
    bool unlock(const SecureStringHolder* password);

    std::unique_ptr<Ui::VarniskClass> ui;
    QStackedWidget* pages = nullptr; // the editor, or the lock page while locked
    LockPage* lockPage = nullptr;
    QString secretsPath;
    QString documentDir;
    QString documentName;
    int tabWidth = 4;
    double averageCharWidth = 0.0;

    QPointer<FindDialog> findDialog;
    ClipboardGuard* clipboardGuard = nullptr;
    bool ignoreSelectionChange = false;
    bool selectingMatch = false; // Find selects its match exactly, without snapping
    std::shared_ptr<WindowSystem> windowSystem;

    SecureStringHolder documentPassword;
    DocumentStore document{documentPassword};
    WindowLock windowLock;
    DocumentMerge merge{*this, document, documentPassword, windowLock};

    SecureStringHolder openPassword;
    PasswordDialog openPasswordDialog;
    QString openFileName;
    bool opening = false; // from the Open's password dialog until its document is shown or given up

    SecureStringHolder decryptPassword;
    PasswordDialog decryptPasswordDialog;
    QString decryptFileName;

    SecureStringHolder saveAsPassword;
    PasswordConfirmDialog saveAsPasswordDialog;
    QString saveAsFileName;
    FileIdentity saveAsBase; // what was at saveAsFileName when it was chosen

    SecureStringHolder encryptPassword;
    PasswordConfirmDialog encryptPasswordDialog;
    QString encryptTarget;
    QString encryptSource;

    PasswordFlow openFlow;
    PasswordFlow decryptFlow;
    PasswordFlow saveAsFlow;
    PasswordFlow encryptFlow;
    QStringList deferredOpens; // files that came from outside while a file operation ran
    // Declared last, so that it goes first: its thread reads the holders above until it has
    // ended.
    FileEncryption fileEncryption;
};
