// The secrets document's life cycle: New, Open, Save, Save As and the "Save changes?" question.
#include "Varnisk.h"

#include "CryptoFile.h"
#include "OutcomeMessage.h"
#include "SecureWipe.h"
#include "ui_VarniskClass.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

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
        if (locked && isNamed()) {
            writeSealedImage(); // a failure was told; the question comes again
            continue;
        }
        // Never saved, so sealed under a key of its own: Save As needs the text.
        if (locked && !unlock(nullptr))
            return QMessageBox::Cancel;
        if (documentDir.isEmpty() || documentName.isEmpty()) {
            // An unnamed document needs a name and a password first; whoever asked waits for
            // that to finish, and a cancelled step cancels the whole action.
            if (!saveAsAndWait())
                return QMessageBox::Cancel;
        } else {
            aSave();
        }
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
    // finished(int) runs saveSecretsAsContinued, which writes the document, before exec returns.
    return saveAsPasswordDialog.exec() == QDialog::Accepted;
}

void Varnisk::aNew()
{
    if (maybeSave() == QMessageBox::Cancel)
        return;
    startNewDocument();
}

void Varnisk::startNewDocument()
{
    secureClear(documentPassword.string());
    documentName.clear();
    documentDir.clear();
    ui->seTextEdit->clear();
    ui->seTextEdit->document()->setModified(false);
    textModificationChanged(false);
}

void Varnisk::aOpen()
{
    if (maybeSave() == QMessageBox::Cancel)
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Select stxt-File..."), secretsPath,
                                                      tr("stxt-File (*.stxt)"));
    if (QFile::exists(path))
        openSecrets(path);
}

void Varnisk::openSecrets(const QString& path)
{
    ui->statusBar->showMessage(tr("Opening: ") + QFileInfo(path).fileName(), 0);
    openFileName = path;
    openPasswordDialog.open();
}

void Varnisk::openSecretsContinued(int result)
{
    if (result == QDialog::Accepted) {
        QFile file(openFileName);
        if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile)) {
            critical(tr("File could not be opened for reading!"));
        } else {
            QByteArray plain;
            const CryptoFile::Result read = CryptoFile::decrypt(file, plain, openPassword);
            file.close();
            if (read.ok()) {
                // The text ends at the first zero byte, as a C string would. The decoded string
                // is not wiped here: the editor's document may go on sharing its buffer.
                ui->seTextEdit->setPlainText(QString::fromUtf8(plain.constData()));
                secureWipe(plain);
                secureClear(documentPassword.string());
                documentPassword.string() = openPassword.string();
                // A save replaces the file at the document's path; a document opened through a
                // link is saved where it really lives, and the link keeps leading there.
                const QString real = QFileInfo(openFileName).canonicalFilePath();
                const QFileInfo info(real.isEmpty() ? openFileName : real);
                documentName = info.fileName();
                documentDir = info.absolutePath();
                ui->seTextEdit->document()->setModified(false);
                textModificationChanged(false);
            } else {
                reportFailure(read, OutcomeMessage::Operation::Decrypt);
            }
        }
    }
    openPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
}

void Varnisk::aSave()
{
    // The emptied editor of a locked window is not the document.
    if (locked) {
        if (isNamed())
            writeSealedImage();
        return;
    }
    if (documentDir.isEmpty() || documentName.isEmpty()) {
        aSaveAs();
        return;
    }
    const QString path = QDir::cleanPath(documentDir + QDir::separator() + documentName);
    // toPlainText() gives a fresh copy of the text, so both copies can be wiped after use.
    QString plain = ui->seTextEdit->toPlainText();
    QByteArray text = plain.toUtf8();
    secureWipe(plain);
    QBuffer source(&text);
    source.open(QIODevice::ReadOnly);
    // A document in a folder where the user may not create files is written in place.
    const CryptoFile::Result written =
        CryptoFile::encrypt(source, static_cast<quint64>(text.size()), path, documentPassword,
                            AtomicFile::Strategy::ReplaceOrInPlace);
    source.close();
    secureWipe(text);
    if (written.ok()) {
        ui->seTextEdit->document()->setModified(false);
        textModificationChanged(false);
    } else {
        // The document stays modified, so closing the window still asks to save it.
        reportFailure(written, OutcomeMessage::Operation::Encrypt);
    }
}

void Varnisk::aSaveAs()
{
    const QString path = askSaveFileName(tr("Select stxt-File..."), secretsPath,
                                         tr("stxt-File (*.stxt)"), QStringLiteral("stxt"));
    if (path.isEmpty())
        return;
    ui->statusBar->showMessage(tr("Saving: ") + QFileInfo(path).fileName(), 0);
    saveAsFileName = path;
    saveAsPasswordDialog.open();
}

void Varnisk::saveSecretsAsContinued(int result)
{
    if (result == QDialog::Accepted) {
        secureClear(documentPassword.string());
        documentPassword.string() = saveAsPassword.string();
        const QFileInfo info(saveAsFileName);
        documentName = info.fileName();
        documentDir = info.absolutePath();
        // The next Save writes to the new name even if this write fails: the title says so.
        textModificationChanged(ui->seTextEdit->document()->isModified());
        aSave();
    }
    saveAsPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
}

QString Varnisk::askSaveFileName(const QString& caption, const QString& proposal,
                                 const QString& filter, const QString& defaultSuffix)
{
    QFileDialog dialog(this, caption, proposal, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without a suffix gets the one the filter stands for, so the file can be
    // found again by the Open dialog's filter and opened by its type.
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (QFileInfo(proposal).isDir())
        dialog.setDirectory(proposal);
    else if (!proposal.isEmpty())
        dialog.selectFile(proposal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void Varnisk::reportFailure(const CryptoFile::Result& result, OutcomeMessage::Operation operation)
{
    // A cancel ends like a cancelled password dialog: without a word.
    if (result.outcome != CryptoFile::Outcome::Cancelled)
        critical(OutcomeMessage::text(result, operation));
}
