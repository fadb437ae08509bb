// Encrypting any file into .sdat, decrypting .sdat and .simg files (the first halves; the work
// is FileEncryption's), and opening files that arrive from outside by their suffix.
#include "Varnisk.h"

#include "dialogs/MessageBoxes.h"
#include "mainwindow/TracelessFileDialog.h"
#include "ui_VarniskClass.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

void Varnisk::openFile(const QString& fileName)
{
    // A request that comes while a file is encrypted or decrypted waits until that has ended, as
    // it used to when the work held up the whole window.
    // A locked window opens it once unlocked.
    if (fileEncryption.operation().isRunning() || isLocked()) {
        deferredOpens << fileName;
        return;
    }
    if (!QFile::exists(fileName)) {
        MessageBoxes::report(this, {Result::Outcome::NotFound, {}},
                             OutcomeMessage::Operation::Decrypt);
        return;
    }
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix == QLatin1String("stxt")) {
        // The request may reach a window whose document has unsaved changes.
        if (maybeSave() == QMessageBox::No)
            openSecrets(fileName);
    } else if (suffix == QLatin1String("sdat") || suffix == QLatin1String("simg")) {
        decryptFile(fileName);
    } else {
        MessageBoxes::critical(this, tr("File type not supported!"));
    }
}

void Varnisk::aEncrypt()
{
    const QString source =
        TracelessFileDialog::openFileName(this, tr("Select File..."), secretsPath);
    if (!QFile::exists(source))
        return;
    const QString proposal = QDir::cleanPath(
        secretsPath + QDir::separator() + QFileInfo(source).fileName() + QStringLiteral(".sdat"));
    const QString target =
        TracelessFileDialog::saveFileName(this, tr("Select sdat-File..."), proposal,
                                          tr("sdat-File (*.sdat)"), QStringLiteral("sdat"));
    if (target.isEmpty() || FileEncryption::refuseSameFile(this, source, target))
        return;
    encryptSource = source;
    encryptFlow.begin(target, tr("Encrypting: ") + QFileInfo(target).fileName());
}

void Varnisk::encryptFileContinued(int result)
{
    fileEncryption.encryptContinued(result);
}

void Varnisk::aDecrypt()
{
    const QString name = TracelessFileDialog::openFileName(
        this, tr("Select sdat-File..."), secretsPath, tr("sdat-File (*.sdat *.simg)"));
    if (QFile::exists(name))
        decryptFile(name);
}

void Varnisk::decryptFile(const QString& fileName)
{
    fileEncryption.beginDecryption(fileName);
}

void Varnisk::decryptFileContinued(int result)
{
    fileEncryption.decryptContinued(result);
}

bool Varnisk::cancelFileWork(QDeadlineTimer deadline)
{
    return fileEncryption.operation().cancelAndWait(deadline);
}
