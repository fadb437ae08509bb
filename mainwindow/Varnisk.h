#pragma once

#include "CryptoFile.h"
#include "FileIdentity.h"
#include "FileOperation.h"
#include "OutcomeMessage.h"
#include "PasswordConfirmDialog.h"
#include "PasswordDialog.h"
#include "SealedText.h"
#include "SecureStringHolder.h"
#include "TypeSelectionKey.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFont>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class ClipboardGuard;
class FindDialog;
class LockPage;
class VarniskApplication;
class WindowSystem;
class QCloseEvent;
class QFile;
class QStackedWidget;

namespace Ui {
class VarniskClass;
}

// The editor window: one secrets document in a plain-text editor, the actions that open, save,
// encrypt and decrypt files, and Type Selection into the window behind.
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

    // Replaces the window-system layer Type Selection uses (tests use a recording one).
    void setWindowSystem(std::unique_ptr<WindowSystem> system);

    // Seals the document and shows the lock page instead; asks nothing and closes every dialog
    // of the window as cancelled. True once the window is locked (also if it was already).
    bool lock();
    [[nodiscard]] bool isLocked() const { return locked; }

    // The window of this process that shows the document at `path` (the same file: device and
    // inode), if any.
    static Varnisk* windowShowing(const QString& path);
    // Shows the window above the others, with the keyboard focus.
    void bringToFront();

    // The one way a document reaches the disk: Save and Save As, the recovery files and the
    // close of a locked window all write through it. It puts on disk either the editor's text,
    // encrypted under the document's password as it goes, or `sealedImage`, a complete
    // encrypted document made before (a locked window holds its document only so); null
    // stands for the text. The file at `target` is replaced only if it is still `expected`
    // right before the rename (Outcome::Changed otherwise); `backup`, if not empty, then keeps
    // the replaced version. `recoveryOf`, if set, makes it a recovery file based on that
    // version of the document instead (`expected` and `backup` do not apply). After a success
    // the result's `written` is what is at the target now.
    struct WriteRequest
    {
        QString target;
        const QByteArray* sealedImage;
        FileIdentity expected;
        QString backup;
        const FileIdentity* recoveryOf = nullptr;
    };
    CryptoFile::Result writeDocument(const WriteRequest& request);

    // How a save ended.
    enum class SaveOutcome
    {
        Saved,
        Failed,    // the user was told why; the document stays modified
        Cancelled, // the user cancelled the changed-on-disk question: nothing was written
        SaveAs,    // the user chose to save under another name instead
    };
    // Saves the document (the editor's text, or `sealedImage`: see writeDocument) to its own
    // path (it must have one): asks first when the file there is no longer the version this
    // window last opened or saved, keeps the replaced version as a backup, and removes the
    // document's recovery file once the new version is in place. A locked window passes its
    // sealed image and `offerSaveAs` false (it shows no file dialog).
    SaveOutcome saveDocument(const QByteArray* sealedImage = nullptr, bool offerSaveAs = true);

    // The answer to "changed on disk?".
    enum class ChangedAnswer
    {
        Overwrite,
        SaveAs,
        Cancel,
    };
    // Tells that the document's file changed (or `vanished`) since this window last opened or
    // saved it, and asks what to do; Save As only when `offerSaveAs`. Anything but a click on
    // Overwrite or Save As (a closed box among it) is Cancel.
    ChangedAnswer askChangedOnDisk(bool vanished, bool offerSaveAs = true);

    // For a program about to end by a signal; none of them shows a dialog. Writes a modified
    // document that has a name (and so a password) to its recovery file; true when there was
    // nothing to write or it was written. What happened goes to standard error.
    bool writeRecovery();
    // Writes this window's settings, as closing it does.
    void writeSettings();
    // Cancels a running encryption or decryption and waits until it has cleaned up or
    // `deadline` has passed; what it ends with is not shown any more.
    bool cancelFileWork(QDeadlineTimer deadline);
    // Undoes now what Type Selection left in the window system for a target that reads its keys
    // late (as the lock does too): nothing typed is left mapped when nobody is there.
    void restoreKeyboard();

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
    void aLock();
    void unlockRequested();
    void findNext();
    void textModificationChanged(bool change);
    void textSelectionChanged();
    void fileOperationFinished(const CryptoFile::Result& result);

public slots:
    void openSecretsContinued(int result);
    void saveSecretsAsContinued(int result);
    void decryptFileContinued(int result);
    void encryptFileContinued(int result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static QFont editorFont();
    int maybeSave();
    bool saveAsAndWait();
    void startNewDocument();
    // New, Open and closing the window drop the last search text.
    void forgetSearchText();
    void openSecrets(const QString& path);
    void openDocument();
    bool offerRecovery(const QString& documentPath, const FileIdentity& read, QByteArray& plain,
                       FileIdentity& base);
    bool acceptZeroByte(const QByteArray& plain);
    void showDocument(const QByteArray& plain, int length);
    bool named() const { return !documentDir.isEmpty() && !documentName.isEmpty(); }
    QString documentPath() const;
    CryptoFile::Result writeDocumentOrThrow(const WriteRequest& request);
    static QString backupPathFor(const QString& documentPath);
    static QString outOfMemoryText();
    QByteArray sealEditorText();
    // The file at `path` opens with documentPassword; known without reading it when it is
    // `known`, the version this window read or wrote under that password.
    bool underDocumentPassword(const QString& path, const FileIdentity& known);
    static bool backupsWanted();
    void readSettings();
    void applyTabWidth();
    void typeSelection(TypeSelectionKey key);

    bool passwordDialogOpen() const;
    QString askSaveFileName(const QString& caption, const QString& proposal, const QString& filter,
                            const QString& defaultSuffix);
    QString decryptedStem() const;
    // Runs `work` on the file operation's thread; `whenDone` follows on this one once it ended.
    using FileOperationStep = void (Varnisk::*)(const CryptoFile::Result& result);
    void runFileOperation(const QString& text, std::unique_ptr<QFile> source,
                          FileOperation::Work work, FileOperationStep whenDone);
    // True when the work was started (it then ends the operation), false when the user
    // cancelled or was refused before.
    bool decryptData(std::unique_ptr<QFile> input);
    void decryptImage(std::unique_ptr<QFile> input);
    // The third halves of Encrypt File and Decrypt File, once their work has ended. Each ends,
    // like every other way out of the operation, by clearing its dialog and the status bar.
    void encryptFileFinished(const CryptoFile::Result& written);
    void decryptDataFinished(const CryptoFile::Result& read);
    void decryptImageFinished(const CryptoFile::Result& read);
    void endEncryption();
    void endDecryption();
    bool refuseSameFile(const QString& source, const QString& target);
    void reportFailure(const CryptoFile::Result& result, OutcomeMessage::Operation operation);
    void critical(const QString& text);
    void information(const QString& text);

    // The lock (VarniskLock.cpp).
    void closeDialogsForLock();
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
    std::unique_ptr<WindowSystem> windowSystem;

    SecureStringHolder documentPassword;
    // The version of the document's file that this window last read or wrote (or the recovery
    // file's base): a save replaces only that one without asking.
    FileIdentity documentBase;
    // documentBase is encrypted under documentPassword (false after a password change).
    bool baseUnderDocumentPassword = false;

    SecureStringHolder openPassword;
    PasswordDialog openPasswordDialog;
    QString openFileName;

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

    // While locked: the text as a Save would write it, and where the user was in it. The modified
    // state stays with the emptied editor's document.
    bool locked = false;
    SealedText sealed;
    int lockedAnchor = 0;
    int lockedPosition = 0;
    int lockedVerticalScroll = 0;
    int lockedHorizontalScroll = 0;
    SecureStringHolder unlockPassword;
    // A file operation that ended while the window was locked: its result, told once unlocked.
    std::optional<CryptoFile::Result> heldOperationResult;

    QByteArray decryptedImage; // the plaintext of an image, between its decryption and its save
    QStringList deferredOpens; // files that came from outside while a file operation ran
    FileOperationStep fileOperationDone = nullptr;
    // Declared last, so that it goes first: its thread reads the holders and buffers above until
    // it has ended.
    FileOperation fileOperation;
};
