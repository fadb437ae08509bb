// The secrets document's life cycle: New, Open, Save, Save As and the "Save changes?" question,
// the merges they offer, and the recovery files of a program ended by a signal.
#include "Varnisk.h"

#include "dialogs/DocumentQuestions.h"
#include "dialogs/FindDialog.h"
#include "dialogs/MergeQuestions.h"
#include "dialogs/MessageBoxes.h"
#include "documents/ConflictCopies.h"
#include "encryption/StreamCipher.h"
#include "files/CryptoFile.h"
#include "mainwindow/BusyCursor.h"
#include "mainwindow/EditorText.h"
#include "mainwindow/MemoryCheck.h"
#include "mainwindow/TracelessFileDialog.h"
#include "messages/OutcomeMessage.h"
#include "securememory/SecureWipe.h"
#include "ui_VarniskClass.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <new>

namespace {

using Operation = OutcomeMessage::Operation;

// Offers the unsaved changes that the recovery files of the document at `path` kept, newest
// first, those not older than the version `read`; on Recover, `plain` becomes the recovered text
// and `base` the version it was based on. `offered` are the files the user was told about.
bool offerRecovery(Varnisk* window, const QString& path, const FileIdentity& read,
                   const SecureStringHolder& password, QByteArray& plain, FileIdentity& base,
                   QList<RecoveryFile::Content>& offered)
{
    const QList<RecoveryFile::Content> recoveries = DocumentStore::recoveriesOf(path, read);
    for (int i = 0; i < recoveries.size() && !window->isLocked(); ++i) {
        const RecoveryFile::Content& recovery = recoveries.at(i);
        const QString name = QFileInfo(recovery.path).fileName();
        QBuffer source;
        source.setData(recovery.stream);
        source.open(QIODevice::ReadOnly);
        QByteArray recovered;
        const Result decrypted = StreamCipher::decrypt(source, recovered, password);
        offered << recovery;
        if (!decrypted.ok()) {
            DocumentQuestions::recoveryUnreadable(
                window, name, OutcomeMessage::text(decrypted, Operation::Decrypt));
            continue;
        }
        if (DocumentQuestions::recover(window, recovery.written, QFileInfo(path).fileName(), name,
                                       recovery.base != read, int(recoveries.size()) - i - 1)) {
            secureWipe(plain);
            plain.swap(recovered);
            base = recovery.base;
            return true;
        }
        secureWipe(recovered);
    }
    return false;
}

// The file names of `paths`.
QStringList names(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    return names;
}

} // namespace

int Varnisk::maybeSave()
{
    // While locked the emptied editor keeps the modified state, and a document with a name is
    // saved as the sealed image, which is what a Save would write.
    const bool askedLocked = isLocked();
    for (;;) {
        // A lock that came while the question or a dialog of the save was up cancels all.
        if (isLocked() && !askedLocked)
            return QMessageBox::Cancel;
        if (!ui->seTextEdit->document()->isModified())
            return QMessageBox::No;
        // Named as the password dialogs name their file: several windows may ask at once.
        QMessageBox question(QMessageBox::Question, QStringLiteral("Varnisk"), tr("Save changes?"),
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        question.setInformativeText(MessageBoxes::fileLine(named() ? documentName : tr("NoName")));
        const int answer = question.exec();
        if (answer == QMessageBox::No)
            return QMessageBox::No;
        // Anything else is a Cancel, a box that a lock closed included.
        if (answer != QMessageBox::Yes || (isLocked() && !askedLocked))
            return QMessageBox::Cancel;
        // Never saved, so sealed under a key of its own: Save As needs the text.
        if (isLocked() && !named() && !unlock(nullptr))
            return QMessageBox::Cancel;
        // An unnamed document needs a name and a password first; whoever asked waits for that
        // to finish, and a cancelled step cancels the whole action. A failed save asks again.
        // A locked window writes its sealed image, and has no Save As to offer.
        const SaveOutcome saved = !named()     ? SaveOutcome::SaveAs
                                  : isLocked() ? saveDocument(&windowLock.sealed().image(), false)
                                               : saveDocument();
        // After a merge the user looks at the result first.
        if (saved == SaveOutcome::Cancelled || saved == SaveOutcome::Merged ||
            (saved == SaveOutcome::SaveAs && !saveAsAndWait()))
            return QMessageBox::Cancel;
    }
}

bool Varnisk::saveAsAndWait()
{
    const QString path =
        TracelessFileDialog::saveFileName(this, tr("Select stxt-File..."), secretsPath,
                                          tr("stxt-File (*.stxt)"), QStringLiteral("stxt"));
    if (path.isEmpty())
        return false;
    saveAsBase = FileIdentity::ofPath(path);
    saveAsPasswordDialog.setDerivation(document.derivation());
    // finished(int) runs saveSecretsAsContinued, which writes the document, before this returns.
    return saveAsFlow.beginAndWait(path, tr("Saving: ") + QFileInfo(path).fileName());
}

void Varnisk::aNew()
{
    if (maybeSave() != QMessageBox::No)
        return;
    startNewDocument();
}

void Varnisk::startNewDocument()
{
    secureClear(documentPassword.string());
    documentName.clear();
    documentDir.clear();
    merge.forget();
    document.setBase(FileIdentity(), false);
    document.setDerivation(KeyDerivation::Pbkdf2);
    ui->seTextEdit->clear();
    ui->seTextEdit->document()->setModified(false);
    textModificationChanged(false);
    // New, Open and closing the window drop the last search text.
    if (findDialog != nullptr)
        findDialog->forgetSearchText();
}

void Varnisk::aOpen()
{
    if (maybeSave() != QMessageBox::No)
        return;
    const QString path = TracelessFileDialog::openFileName(this, tr("Select stxt-File..."),
                                                           secretsPath, tr("stxt-File (*.stxt)"));
    if (QFile::exists(path))
        openSecrets(path);
}

void Varnisk::openSecrets(const QString& path)
{
    // A document that another window shows already is not opened a second time: two copies
    // would only overwrite each other's edits.
    if (Varnisk* other = windowShowing(path); other != nullptr && other != this) {
        other->bringToFront();
        return;
    }
    opening = true;
    openFlow.begin(path, tr("Opening: ") + QFileInfo(path).fileName());
}

void Varnisk::openSecretsContinued(int result)
{
    bool askAgain = false;
    if (result == QDialog::Accepted) {
        try {
            askAgain = openDocument();
        } catch (const std::bad_alloc&) {
            // Only our own buffers: the editor is given a text only once there is room for it.
            MessageBoxes::report(this, Result::outOfMemory(), Operation::Decrypt);
        }
    }
    const QString status = openFlow.status();
    openFlow.end();
    // A mistyped password does not drop the Open: the same file asks again until cancelled.
    opening = askAgain && !isLocked();
    if (opening)
        openFlow.begin(openFileName, status);
}

bool Varnisk::openDocument()
{
    QByteArray plain;
    FileIdentity read;
    KeyDerivation derivation = KeyDerivation::Pbkdf2;
    // A large document takes seconds to decrypt and above all to lay out, while the window
    // cannot repaint or take input.
    BusyCursor busy;
    const Result opened = DocumentStore::read(openFileName, openPassword, plain, read, derivation);
    busy.end();
    if (!opened.ok()) {
        MessageBoxes::report(this, opened, Operation::Decrypt);
        return opened.mayBeWrongPassword();
    }
    // Another window may have opened it while this one asked for the password.
    if (Varnisk* other = windowShowing(openFileName); other != nullptr && other != this) {
        secureWipe(plain);
        other->bringToFront();
        return false;
    }
    // A save replaces the file at the document's path; a document opened through a link is
    // saved where it really lives, and the link keeps leading there.
    const QString real = QFileInfo(openFileName).canonicalFilePath();
    const QFileInfo info(real.isEmpty() ? openFileName : real);
    FileIdentity base = read;
    QList<RecoveryFile::Content> offered;
    const bool recovered =
        offerRecovery(this, info.absoluteFilePath(), read, openPassword, plain, base, offered);
    // A lock that came while one of the questions was up cancels the open: behind the lock page
    // the window holds the document it sealed, which must not be replaced.
    if (isLocked() ||
        (plain.contains('\0') &&
         !DocumentQuestions::openBeforeZeroByte(this, QFileInfo(openFileName).fileName())) ||
        isLocked()) {
        secureWipe(plain);
        return false;
    }
    const QStringList copies = ConflictCopies::beside(info.absoluteFilePath());
    const MergeQuestions::CopiesAnswer merging =
        copies.isEmpty() ? MergeQuestions::CopiesAnswer::OpenAlone
                         : MergeQuestions::conflictCopies(this, info.fileName(), names(copies));
    if (merging == MergeQuestions::CopiesAnswer::Cancel || isLocked()) {
        secureWipe(plain);
        return false;
    }
    // The text ends at the first zero byte, as a C string would.
    const int zero = plain.indexOf('\0');
    const int length = zero < 0 ? plain.size() : zero;
    if (!MemoryCheck::roomForText(length)) {
        secureWipe(plain);
        MessageBoxes::report(this, Result::outOfMemory(), Operation::Decrypt);
        return false;
    }
    BusyCursor layingOut;
    // The decoded string is not wiped here: the editor's document may go on sharing its buffer.
    ui->seTextEdit->setPlainText(QString::fromUtf8(plain.constData(), length));
    secureWipe(plain);
    secureClear(documentPassword.string());
    documentPassword.string() = openPassword.string();
    documentName = info.fileName();
    documentDir = info.absolutePath();
    merge.forget();
    document.setBase(base, base == read);
    document.offered(offered);
    document.setDerivation(derivation);
    // What a merge needs of the base, which for a recovered text only the file can give.
    if (recovered) {
        merge.rereadBase(documentPath());
    } else {
        QByteArray shown = EditorText::of(*ui->seTextEdit);
        document.keepBaseText(shown);
        secureWipe(shown);
    }
    // Recovered text is not on disk yet: it shows as modified, so closing still asks.
    ui->seTextEdit->document()->setModified(recovered);
    textModificationChanged(recovered);
    if (findDialog != nullptr)
        findDialog->forgetSearchText();
    if (merging == MergeQuestions::CopiesAnswer::Merge)
        merge.mergeCopies(*ui->seTextEdit, documentPath(), copies);
    return false;
}

QString Varnisk::documentPath() const
{
    return QDir::cleanPath(documentDir + QDir::separator() + documentName);
}

void Varnisk::aSave()
{
    // The emptied editor of a locked window is not the document: its sealed image is.
    if (isLocked()) {
        if (named())
            saveDocument(&windowLock.sealed().image(), false);
        return;
    }
    if (!named() || saveDocument() == SaveOutcome::SaveAs)
        aSaveAs();
}

Varnisk::SaveOutcome Varnisk::saveDocument(const QByteArray* sealedImage, bool offerSaveAs)
{
    const QString path = documentPath();
    FileIdentity expected = document.base();
    for (;;) {
        const FileIdentity onDisk = FileIdentity::ofPath(path);
        if (onDisk != expected) {
            // Another program (or another window) wrote or removed the file since this window
            // last read or wrote it: its version would be lost without a word.
            // Merge only from the window's own Save, with the editor's text.
            switch (DocumentQuestions::changedOnDisk(this, documentName, !onDisk.exists(),
                                                     offerSaveAs, sealedImage == nullptr)) {
            case DocumentQuestions::ChangedAnswer::Cancel:
                return SaveOutcome::Cancelled;
            case DocumentQuestions::ChangedAnswer::SaveAs:
                return SaveOutcome::SaveAs;
            case DocumentQuestions::ChangedAnswer::Merge:
                return merge.mergeChangedFile(*ui->seTextEdit, path) ? SaveOutcome::Merged
                                                                     : SaveOutcome::Cancelled;
            case DocumentQuestions::ChangedAnswer::Overwrite:
                expected = onDisk;
                break;
            }
        }
        WriteResult written;
        // A large document takes a noticeable while to encrypt and sync.
        BusyCursor busy;
        if (sealedImage != nullptr) {
            written = document.save(path, *sealedImage, DocumentStore::Content::Sealed, expected);
        } else {
            QByteArray text;
            try {
                text = EditorText::of(*ui->seTextEdit);
                written = merge.readyToSave(text, documentName, !offerSaveAs)
                              ? document.save(path, text, DocumentStore::Content::Text, expected)
                              : WriteResult(Result{Result::Outcome::Cancelled, {}});
            } catch (const std::bad_alloc&) {
                written = Result::outOfMemory();
            }
            secureWipe(text);
        }
        busy.end();
        if (written.outcome == Result::Outcome::Changed)
            continue; // changed once more while it was written: ask again
        if (written.outcome == Result::Outcome::Cancelled)
            return SaveOutcome::Cancelled;
        if (!written.ok()) {
            // The document stays modified, so closing the window still asks to save it.
            MessageBoxes::report(this, written, Operation::Encrypt);
            return SaveOutcome::Failed;
        }
        ui->seTextEdit->document()->setModified(false);
        textModificationChanged(false);
        if (sealedImage == nullptr)
            merge.saved(documentName);
        // The save holds; what became of the version before is told where it does not stop
        // anyone (an empty note clears an older one).
        const QString backup = QFileInfo(DocumentStore::backupPathFor(path)).fileName();
        QString note;
        if (!written.backupNotKept.isEmpty())
            note = tr("Saved, but the backup %1 could not be kept: %2")
                       .arg(backup, written.backupNotKept);
        else if (!written.backupNotRemoved.isEmpty())
            note = tr("Saved, but the older backup %1 (under the old password) could not be "
                      "removed: %2")
                       .arg(backup, written.backupNotRemoved);
        else if (written.inPlace && DocumentStore::backupsWanted())
            note = tr("Saved in place (no file can be created in its folder): no backup was kept.");
        ui->statusBar->showMessage(note, 0);
        return SaveOutcome::Saved;
    }
}

void Varnisk::aSaveAs()
{
    const QString path =
        TracelessFileDialog::saveFileName(this, tr("Select stxt-File..."), secretsPath,
                                          tr("stxt-File (*.stxt)"), QStringLiteral("stxt"));
    if (path.isEmpty())
        return;
    saveAsBase = FileIdentity::ofPath(path);
    // A document in version 6 is offered to stay there.
    saveAsPasswordDialog.setDerivation(document.derivation());
    saveAsFlow.begin(path, tr("Saving: ") + QFileInfo(path).fileName());
}

void Varnisk::saveSecretsAsContinued(int result)
{
    if (result == QDialog::Accepted) {
        const QFileInfo info(saveAsFileName);
        // The file dialog asked before a file there is replaced. Only this window's own
        // document keeps the version it knows, so that a change by another writer is still
        // noticed.
        const bool sameDocument = named() && CryptoFile::sameFile(saveAsFileName, documentPath());
        if (!sameDocument) {
            document.setBase(saveAsBase, false);
            document.offered({});
            merge.forget();
        } else if (!secureEqual(documentPassword.string(), saveAsPassword.string())) {
            document.passwordChanged();
        }
        secureClear(documentPassword.string());
        documentPassword.string() = saveAsPassword.string();
        document.setDerivation(saveAsPasswordDialog.derivation());
        documentName = info.fileName();
        documentDir = info.absolutePath();
        // The next Save writes to the new name even if this write fails: the title says so.
        textModificationChanged(ui->seTextEdit->document()->isModified());
        // No second file dialog from here: a file that changed since it was chosen is replaced
        // or kept.
        saveDocument(nullptr, false);
    }
    saveAsFlow.end();
}

bool Varnisk::writeRecovery()
{
    // A never-saved document has no password, so nothing it could be kept under (and locked,
    // only a key that dies with the program).
    if (!ui->seTextEdit->document()->isModified() || !named())
        return true;
    QString path = RecoveryFile::pathFor(documentPath());
    // Nothing may stop the others from being written: every failure ends here, in words.
    WriteResult result = Result{Result::Outcome::UnknownError, {}};
    try {
        // A locked window holds its document only as the sealed image (with the same password).
        if (isLocked()) {
            result = document.writeRecovery(documentPath(), windowLock.sealed().image(),
                                            DocumentStore::Content::Sealed, path);
        } else {
            QByteArray text = EditorText::of(*ui->seTextEdit);
            result =
                document.writeRecovery(documentPath(), text, DocumentStore::Content::Text, path);
            secureWipe(text);
        }
    } catch (...) {
    }
    if (result.ok()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(tr("varnisk: the unsaved changes are kept in %1").arg(path)));
        return true;
    }
    std::fprintf(stderr, "%s\n",
                 qPrintable(tr("varnisk: the unsaved changes could not be kept in %1: %2")
                                .arg(path, OutcomeMessage::text(result, Operation::Encrypt))));
    return false;
}
