// The secrets document's life cycle: New, Open, Save, Save As and the "Save changes?" question.
#include "Varnisk.h"

#include "BusyCursor.h"
#include "CryptoFile.h"
#include "MemoryCheck.h"
#include "OutcomeMessage.h"
#include "RecoveryFile.h"
#include "SecureWipe.h"
#include "TracelessFileDialog.h"
#include "ui_VarniskClass.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <cerrno>
#include <new>

#include <sys/stat.h>

int Varnisk::maybeSave()
{
    // While locked the emptied editor keeps the modified state, and a document with a name is
    // saved as the sealed image, which is what a Save would write.
    const bool askedLocked = locked;
    for (;;) {
        // A lock that came while the question or a dialog of the save was up cancels all.
        if (locked && !askedLocked)
            return QMessageBox::Cancel;
        if (!ui->seTextEdit->document()->isModified())
            return QMessageBox::No;
        const int answer =
            QMessageBox::question(this, QStringLiteral("Varnisk"), tr("Save changes?"),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::No)
            return QMessageBox::No;
        // Anything else is a Cancel, a box that a lock closed included.
        if (answer != QMessageBox::Yes || (locked && !askedLocked))
            return QMessageBox::Cancel;
        // Never saved, so sealed under a key of its own: Save As needs the text.
        if (locked && !named() && !unlock(nullptr))
            return QMessageBox::Cancel;
        // An unnamed document needs a name and a password first; whoever asked waits for that
        // to finish, and a cancelled step cancels the whole action. A failed save asks again.
        // A locked window writes its sealed image, and has no Save As to offer.
        const SaveOutcome saved = !named() ? SaveOutcome::SaveAs
                                  : locked ? saveDocument(&sealed.image(), false)
                                           : saveDocument();
        if (saved == SaveOutcome::Cancelled || (saved == SaveOutcome::SaveAs && !saveAsAndWait()))
            return QMessageBox::Cancel;
    }
}

bool Varnisk::saveAsAndWait()
{
    const QString path = askSaveFileName(tr("Select stxt-File..."), secretsPath,
                                         tr("stxt-File (*.stxt)"), QStringLiteral("stxt"));
    if (path.isEmpty())
        return false;
    ui->statusBar->showMessage(tr("Saving: ") + QFileInfo(path).fileName(), 0);
    saveAsFileName = path;
    saveAsPasswordDialog.setFileName(path);
    saveAsBase = FileIdentity::ofPath(path);
    // finished(int) runs saveSecretsAsContinued, which writes the document, before exec returns.
    return saveAsPasswordDialog.exec() == QDialog::Accepted;
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
    documentBase = FileIdentity();
    baseUnderDocumentPassword = false;
    ui->seTextEdit->clear();
    ui->seTextEdit->document()->setModified(false);
    textModificationChanged(false);
    forgetSearchText();
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
    ui->statusBar->showMessage(tr("Opening: ") + QFileInfo(path).fileName(), 0);
    openFileName = path;
    openPasswordDialog.open();
}

void Varnisk::openSecretsContinued(int result)
{
    if (result == QDialog::Accepted) {
        try {
            openDocument();
        } catch (const std::bad_alloc&) {
            // Only our own buffers: the editor is given a text only once there is room for it.
            critical(outOfMemoryText());
        }
    }
    openPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
}

void Varnisk::openDocument()
{
    QFile file(openFileName);
    if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile)) {
        critical(tr("File could not be opened for reading!"));
        return;
    }
    // The encrypted bytes are read once, and both the identity and the text come from them:
    // so the version that a later save checks against is exactly the one shown.
    struct stat status = {};
    QByteArray encrypted;
    if (fstat(file.handle(), &status) == 0)
        encrypted = file.readAll();
    if (encrypted.size() != status.st_size || file.error() != QFileDevice::NoError) {
        critical(tr("File could not be opened for reading!"));
        return;
    }
    file.close();
    // A large document takes seconds to decrypt and above all to lay out, while the window
    // cannot repaint or take input.
    BusyCursor busy;
    const FileIdentity read = FileIdentity::of(encrypted, status);
    QBuffer source(&encrypted);
    source.open(QIODevice::ReadOnly);
    QByteArray plain;
    const CryptoFile::Result decrypted = CryptoFile::decrypt(source, plain, openPassword);
    source.close();
    busy.end();
    if (!decrypted.ok()) {
        reportFailure(decrypted, OutcomeMessage::Operation::Decrypt);
        return;
    }
    // Another window may have opened it while this one asked for the password.
    if (Varnisk* other = windowShowing(openFileName); other != nullptr && other != this) {
        secureWipe(plain);
        other->bringToFront();
        return;
    }
    // A save replaces the file at the document's path; a document opened through a link is
    // saved where it really lives, and the link keeps leading there.
    const QString real = QFileInfo(openFileName).canonicalFilePath();
    const QFileInfo info(real.isEmpty() ? openFileName : real);
    FileIdentity base = read;
    const bool recovered = offerRecovery(info.absoluteFilePath(), read, plain, base);
    // A lock that came while one of the questions was up cancels the open: behind the lock page
    // the window holds the document it sealed, which must not be replaced.
    if (locked || !acceptZeroByte(plain) || locked) {
        secureWipe(plain);
        return;
    }
    // The text ends at the first zero byte, as a C string would.
    const int zero = plain.indexOf('\0');
    const int length = zero < 0 ? plain.size() : zero;
    if (!MemoryCheck::roomForText(length)) {
        secureWipe(plain);
        critical(outOfMemoryText());
        return;
    }
    BusyCursor layingOut;
    showDocument(plain, length);
    secureWipe(plain);
    secureClear(documentPassword.string());
    documentPassword.string() = openPassword.string();
    documentName = info.fileName();
    documentDir = info.absolutePath();
    documentBase = base;
    baseUnderDocumentPassword = base == read;
    // Recovered text is not on disk yet: it shows as modified, so closing still asks.
    ui->seTextEdit->document()->setModified(recovered);
    textModificationChanged(recovered);
    forgetSearchText();
}

void Varnisk::showDocument(const QByteArray& plain, int length)
{
    // The decoded string is not wiped here: the editor's document may go on sharing its buffer.
    ui->seTextEdit->setPlainText(QString::fromUtf8(plain.constData(), length));
}

bool Varnisk::acceptZeroByte(const QByteArray& plain)
{
    if (plain.indexOf('\0') < 0)
        return true;
    // Only a foreign or crafted file holds one. The editor cannot show what follows it, and a
    // save would drop it for good: the user decides before anything can be saved over it.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Varnisk"),
                    tr("%1 holds more data after a zero byte, which the editor cannot show.\n\n"
                       "Open only the text before the zero byte? Saving it afterwards drops the "
                       "rest for good.")
                        .arg(QFileInfo(openFileName).fileName()),
                    QMessageBox::NoButton, this);
    QPushButton* open = box.addButton(tr("&Open the Text Before It"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == open;
}

QString Varnisk::documentPath() const
{
    return QDir::cleanPath(documentDir + QDir::separator() + documentName);
}

void Varnisk::aSave()
{
    // The emptied editor of a locked window is not the document: its sealed image is.
    if (locked) {
        if (named())
            saveDocument(&sealed.image(), false);
        return;
    }
    if (!named() || saveDocument() == SaveOutcome::SaveAs)
        aSaveAs();
}

Varnisk::SaveOutcome Varnisk::saveDocument(const QByteArray* sealedImage, bool offerSaveAs)
{
    const QString path = documentPath();
    FileIdentity expected = documentBase;
    for (;;) {
        const FileIdentity onDisk = FileIdentity::ofPath(path);
        if (onDisk != expected) {
            // Another program (or another window) wrote or removed the file since this window
            // last read or wrote it: its version would be lost without a word.
            switch (askChangedOnDisk(!onDisk.exists(), offerSaveAs)) {
            case ChangedAnswer::Cancel:
                return SaveOutcome::Cancelled;
            case ChangedAnswer::SaveAs:
                return SaveOutcome::SaveAs;
            case ChangedAnswer::Overwrite:
                expected = onDisk;
                break;
            }
        }
        // A backup only under the password of the new version: after a password change no copy
        // may keep the secrets under the old one.
        const bool samePassword = expected.exists() && underDocumentPassword(path, expected);
        const QString backup = backupPathFor(path);
        WriteRequest request{path, sealedImage, expected, {}, nullptr};
        if (samePassword && backupsWanted())
            request.backup = backup;
        const CryptoFile::Result written = writeDocument(request);
        if (written.outcome == CryptoFile::Outcome::Changed)
            continue; // changed once more while it was written: ask again
        // A new file in place whose folder could not be synced is this window's version too.
        if (written.written.exists()) {
            documentBase = written.written;
            baseUnderDocumentPassword = true;
        }
        if (!written.ok()) {
            // The document stays modified, so closing the window still asks to save it.
            reportFailure(written, OutcomeMessage::Operation::Encrypt);
            return SaveOutcome::Failed;
        }
        if (expected.exists() && !samePassword && !underDocumentPassword(backup, {}))
            QFile::remove(backup);
        QFile::remove(RecoveryFile::pathFor(path));
        ui->seTextEdit->document()->setModified(false);
        textModificationChanged(false);
        return SaveOutcome::Saved;
    }
}

bool Varnisk::underDocumentPassword(const QString& path, const FileIdentity& known)
{
    if (known.exists() && known == documentBase && baseUnderDocumentPassword)
        return true;
    // A version this window has not read or written: it opens with the password, or not.
    QFile file(path);
    if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile))
        return false;
    QByteArray plain;
    try {
        const bool opens = CryptoFile::decrypt(file, plain, documentPassword).ok();
        secureWipe(plain);
        return opens;
    } catch (const std::bad_alloc&) {
        return false; // no room to tell: no backup, rather than none of the save
    }
}

Varnisk::ChangedAnswer Varnisk::askChangedOnDisk(bool vanished, bool offerSaveAs)
{
    const QString name = documentName;
    const QString fact =
        vanished ? tr("%1 is no longer there: another program moved or deleted it after this "
                      "window opened or saved it.")
                       .arg(name)
                 : tr("%1 was changed by another program (or another Varnisk window) after this "
                      "window opened or saved it. Saving now replaces that version.")
                       .arg(name);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Varnisk"), fact, QMessageBox::NoButton,
                    this);
    if (vanished) {
        box.setInformativeText(offerSaveAs ? tr("Write it again with this window's text, save "
                                                "this text under another name, or cancel?")
                                           : tr("Write it again with this window's text, or "
                                                "cancel?"));
    } else {
        box.setInformativeText(offerSaveAs ? tr("Overwrite it with this window's text, save this "
                                                "text under another name, or cancel?")
                                           : tr("Overwrite it with this window's text, or "
                                                "cancel?"));
    }
    QPushButton* overwrite =
        box.addButton(vanished ? tr("&Write It Again") : tr("&Overwrite"), QMessageBox::AcceptRole);
    QPushButton* saveAs =
        offerSaveAs ? box.addButton(tr("Save &As..."), QMessageBox::ActionRole) : nullptr;
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == overwrite)
        return ChangedAnswer::Overwrite;
    if (saveAs != nullptr && box.clickedButton() == saveAs)
        return ChangedAnswer::SaveAs;
    return ChangedAnswer::Cancel;
}

void Varnisk::aSaveAs()
{
    const QString path = askSaveFileName(tr("Select stxt-File..."), secretsPath,
                                         tr("stxt-File (*.stxt)"), QStringLiteral("stxt"));
    if (path.isEmpty())
        return;
    ui->statusBar->showMessage(tr("Saving: ") + QFileInfo(path).fileName(), 0);
    saveAsFileName = path;
    saveAsPasswordDialog.setFileName(path);
    saveAsBase = FileIdentity::ofPath(path);
    saveAsPasswordDialog.open();
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
            documentBase = saveAsBase;
            baseUnderDocumentPassword = false;
        } else if (!secureEqual(documentPassword.string(), saveAsPassword.string())) {
            baseUnderDocumentPassword = false;
        }
        secureClear(documentPassword.string());
        documentPassword.string() = saveAsPassword.string();
        documentName = info.fileName();
        documentDir = info.absolutePath();
        // The next Save writes to the new name even if this write fails: the title says so.
        textModificationChanged(ui->seTextEdit->document()->isModified());
        // No second file dialog from here: a file that changed since it was chosen is replaced
        // or kept.
        saveDocument(nullptr, false);
    }
    saveAsPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
}

QString Varnisk::backupPathFor(const QString& documentPath)
{
    // doc.stxt keeps doc.backup.stxt: a document like any other, which says what it is and sorts
    // beside its original. Never hidden and never ".tmp", so no clean-up of temporary files
    // takes it for one.
    QString path = documentPath;
    if (path.endsWith(QLatin1String(".stxt")))
        path.chop(5);
    return path + QStringLiteral(".backup.stxt");
}

CryptoFile::Result Varnisk::writeDocument(const WriteRequest& request)
{
    try {
        return writeDocumentOrThrow(request);
    } catch (const std::bad_alloc&) {
        return {CryptoFile::Outcome::OutOfMemory, qt_error_string(ENOMEM)};
    }
}

CryptoFile::Result Varnisk::writeDocumentOrThrow(const WriteRequest& request)
{
    AtomicFile::Options options(AtomicFile::Strategy::Replace);
    options.identifyWritten = true;
    if (request.recoveryOf != nullptr) {
        const QByteArray stream =
            request.sealedImage != nullptr ? *request.sealedImage : sealEditorText();
        return CryptoFile::write(RecoveryFile::compose(*request.recoveryOf, stream), request.target,
                                 options);
    }
    // A document in a folder where the user may not create files is written in place.
    options.strategy = AtomicFile::Strategy::ReplaceOrInPlace;
    options.expected = request.expected;
    options.backup = request.backup;
    if (request.sealedImage != nullptr)
        return CryptoFile::write(*request.sealedImage, request.target, options);
    // toPlainText() gives a fresh copy of the text, so both copies can be wiped after use.
    QString plain = ui->seTextEdit->toPlainText();
    QByteArray text = plain.toUtf8();
    secureWipe(plain);
    QBuffer source(&text);
    source.open(QIODevice::ReadOnly);
    const CryptoFile::Result result = CryptoFile::encrypt(
        source, static_cast<quint64>(text.size()), request.target, documentPassword, options);
    source.close();
    secureWipe(text);
    return result;
}

QString Varnisk::outOfMemoryText()
{
    return OutcomeMessage::text({CryptoFile::Outcome::OutOfMemory, qt_error_string(ENOMEM)},
                                OutcomeMessage::Operation::Decrypt);
}

QString Varnisk::askSaveFileName(const QString& caption, const QString& proposal,
                                 const QString& filter, const QString& defaultSuffix)
{
    return TracelessFileDialog::saveFileName(this, caption, proposal, filter, defaultSuffix);
}

void Varnisk::reportFailure(const CryptoFile::Result& result, OutcomeMessage::Operation operation)
{
    // A cancel ends like a cancelled password dialog: without a word.
    if (result.outcome != CryptoFile::Outcome::Cancelled)
        critical(OutcomeMessage::text(result, operation));
}
