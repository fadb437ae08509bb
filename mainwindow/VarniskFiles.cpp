// Encrypting any file into .sdat, decrypting .sdat and .simg files, and opening files that
// arrive from outside by their suffix.
#include "Varnisk.h"

#include "CryptoFile.h"
#include "ImageFormat.h"
#include "OutcomeMessage.h"
#include "SecureWipe.h"
#include "ui_VarniskClass.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

void Varnisk::openFile(const QString& fileName)
{
    if (!QFile::exists(fileName)) {
        critical(tr("File does not exsist!"));
        return;
    }
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix == QLatin1String("stxt")) {
        // The request may reach a window whose document has unsaved changes.
        if (maybeSave() != QMessageBox::Cancel)
            openSecrets(fileName);
    } else if (suffix == QLatin1String("sdat") || suffix == QLatin1String("simg")) {
        decryptFile(fileName);
    } else {
        critical(tr("File type not supported!"));
    }
}

void Varnisk::aEncrypt()
{
    const QString source = QFileDialog::getOpenFileName(this, tr("Select File..."), secretsPath);
    if (!QFile::exists(source))
        return;
    const QString proposal = QDir::cleanPath(
        secretsPath + QDir::separator() + QFileInfo(source).fileName() + QStringLiteral(".sdat"));
    const QString target = askSaveFileName(tr("Select sdat-File..."), proposal,
                                           tr("sdat-File (*.sdat)"), QStringLiteral("sdat"));
    if (target.isEmpty() || refuseSameFile(source, target))
        return;
    ui->statusBar->showMessage(tr("Encrypting: ") + QFileInfo(target).fileName(), 0);
    encryptSource = source;
    encryptTarget = target;
    encryptPasswordDialog.open();
}

void Varnisk::encryptFileContinued(int result)
{
    if (result == QDialog::Accepted && !refuseSameFile(encryptSource, encryptTarget)) {
        QFile source(encryptSource);
        if (!CryptoFile::isWritableTarget(encryptTarget)) {
            critical(tr("File could not be opened for writing!"));
        } else if (!source.open(QIODevice::ReadOnly)) {
            critical(tr("File could not be opened for reading!"));
        } else {
            const CryptoFile::Result written = CryptoFile::encrypt(
                source, static_cast<quint64>(source.size()), encryptTarget, encryptPassword);
            if (written.ok())
                information(tr("File successfully encrypted!"));
            else
                reportFailure(written, OutcomeMessage::Operation::Encrypt);
        }
    }
    encryptPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
}

void Varnisk::aDecrypt()
{
    const QString name = QFileDialog::getOpenFileName(this, tr("Select sdat-File..."), secretsPath,
                                                      tr("sdat-File (*.sdat *.simg)"));
    if (QFile::exists(name))
        decryptFile(name);
}

void Varnisk::decryptFile(const QString& fileName)
{
    ui->statusBar->showMessage(tr("Decrypting: ") + QFileInfo(fileName).fileName(), 0);
    decryptFileName = fileName;
    decryptPasswordDialog.open();
}

void Varnisk::decryptFileContinued(int result)
{
    if (result == QDialog::Accepted) {
        QFile input(decryptFileName);
        if (!input.open(QIODevice::ReadOnly))
            critical(tr("File could not be opened for reading!"));
        else if (QFileInfo(decryptFileName).suffix() == QLatin1String("sdat"))
            decryptData(input);
        else
            decryptImage(input);
    }
    decryptPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
}

QString Varnisk::decryptedStem() const
{
    // The encrypted file's name without its own suffix: report.pdf.sdat gives report.pdf.
    const QString suffix = QFileInfo(decryptFileName).suffix();
    if (suffix.isEmpty())
        return decryptFileName;
    return decryptFileName.left(decryptFileName.size() - suffix.size() - 1);
}

void Varnisk::decryptData(QFile& input)
{
    const QString target =
        askSaveFileName(tr("Select File..."), decryptedStem(), QString(), QString());
    if (target.isEmpty() || refuseSameFile(decryptFileName, target))
        return;
    const CryptoFile::Result read = CryptoFile::decrypt(input, target, decryptPassword);
    if (read.ok())
        information(tr("File successfully decrypted!"));
    else
        reportFailure(read, OutcomeMessage::Operation::Decrypt);
}

void Varnisk::decryptImage(QFile& input)
{
    QByteArray plain;
    const CryptoFile::Result read = CryptoFile::decrypt(input, plain, decryptPassword);
    if (!read.ok()) {
        reportFailure(read, OutcomeMessage::Operation::Decrypt);
        return;
    }
    const ImageFormat* format = ImageFormat::detect(plain);
    if (format == nullptr) {
        critical(tr("Image format not recognized!"));
    } else {
        const QString target = askSaveFileName(tr("Select File..."),
                                               decryptedStem() + QLatin1String(format->extension),
                                               tr(format->filter), QString());
        if (!target.isEmpty() && !refuseSameFile(decryptFileName, target)) {
            const CryptoFile::Result written = CryptoFile::write(plain, target);
            if (written.ok())
                information(tr("File successfully decrypted!"));
            else
                reportFailure(written, OutcomeMessage::Operation::Decrypt);
        }
    }
    secureWipe(plain);
}

bool Varnisk::refuseSameFile(const QString& source, const QString& target)
{
    if (!CryptoFile::sameFile(source, target))
        return false;
    critical(tr("The target is the source file itself!\nChoose another file name, so that the "
                "source is not overwritten."));
    return true;
}
