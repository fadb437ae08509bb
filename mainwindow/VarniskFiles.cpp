// Encrypting any file into .sdat, decrypting .sdat and .simg files, and opening files that
// arrive from outside by their suffix.
#include "Varnisk.h"

#include "CryptoFile.h"
#include "ImageFormat.h"
#include "OutcomeMessage.h"
#include "SecureWipe.h"
#include "TracelessFileDialog.h"
#include "ui_VarniskClass.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <utility>

void Varnisk::openFile(const QString& fileName)
{
    // A request that comes while a file is encrypted or decrypted waits until that has ended, as
    // it used to when the work held up the whole window.
    // A locked window opens it once unlocked.
    if (fileOperation.isRunning() || locked) {
        deferredOpens << fileName;
        return;
    }
    if (!QFile::exists(fileName)) {
        critical(tr("File does not exsist!"));
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
        critical(tr("File type not supported!"));
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
    const QString target = askSaveFileName(tr("Select sdat-File..."), proposal,
                                           tr("sdat-File (*.sdat)"), QStringLiteral("sdat"));
    if (target.isEmpty() || refuseSameFile(source, target))
        return;
    ui->statusBar->showMessage(tr("Encrypting: ") + QFileInfo(target).fileName(), 0);
    encryptSource = source;
    encryptTarget = target;
    encryptPasswordDialog.setFileName(target);
    encryptPasswordDialog.open();
}

void Varnisk::encryptFileContinued(int result)
{
    if (result == QDialog::Accepted && !refuseSameFile(encryptSource, encryptTarget)) {
        auto source = std::make_unique<QFile>(encryptSource);
        int refusal = 0;
        if (!AtomicFile::isReplaceable(encryptTarget, &refusal)) {
            reportFailure({CryptoFile::Outcome::CannotWrite, qt_error_string(refusal)},
                          OutcomeMessage::Operation::Encrypt);
        } else if (!CryptoFile::openInput(*source, CryptoFile::Input::RegularFile)) {
            critical(tr("File could not be opened for reading!"));
        } else {
            const QString target = encryptTarget;
            const auto length = static_cast<quint64>(source->size());
            runFileOperation(
                tr("Encrypting: ") + QFileInfo(target).fileName(), std::move(source),
                [this, target, length](QIODevice& input, StreamProgress& progress) {
                    return CryptoFile::encrypt(input, length, target, encryptPassword,
                                               AtomicFile::Strategy::Replace, &progress);
                },
                &Varnisk::encryptFileFinished);
            return;
        }
    }
    endEncryption();
}

void Varnisk::encryptFileFinished(const CryptoFile::Result& written)
{
    if (written.ok())
        information(tr("File successfully encrypted!"));
    else
        reportFailure(written, OutcomeMessage::Operation::Encrypt);
    endEncryption();
}

void Varnisk::endEncryption()
{
    encryptPasswordDialog.clear();
    ui->statusBar->showMessage(QString(), 0);
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
    ui->statusBar->showMessage(tr("Decrypting: ") + QFileInfo(fileName).fileName(), 0);
    decryptFileName = fileName;
    decryptPasswordDialog.open();
}

void Varnisk::decryptFileContinued(int result)
{
    if (result == QDialog::Accepted) {
        auto input = std::make_unique<QFile>(decryptFileName);
        if (!CryptoFile::openInput(*input, CryptoFile::Input::RegularFileOrFifo)) {
            critical(tr("File could not be opened for reading!"));
        } else if (QFileInfo(decryptFileName).suffix() == QLatin1String("sdat")) {
            if (decryptData(std::move(input)))
                return;
        } else {
            decryptImage(std::move(input));
            return;
        }
    }
    endDecryption();
}

void Varnisk::endDecryption()
{
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

bool Varnisk::decryptData(std::unique_ptr<QFile> input)
{
    const QString target =
        askSaveFileName(tr("Select File..."), decryptedStem(), QString(), QString());
    if (target.isEmpty() || refuseSameFile(decryptFileName, target))
        return false;
    runFileOperation(
        tr("Decrypting: ") + QFileInfo(decryptFileName).fileName(), std::move(input),
        [this, target](QIODevice& source, StreamProgress& progress) {
            return CryptoFile::decrypt(source, target, decryptPassword, &progress);
        },
        &Varnisk::decryptDataFinished);
    return true;
}

void Varnisk::decryptDataFinished(const CryptoFile::Result& read)
{
    if (read.ok())
        information(tr("File successfully decrypted!"));
    else
        reportFailure(read, OutcomeMessage::Operation::Decrypt);
    endDecryption();
}

void Varnisk::decryptImage(std::unique_ptr<QFile> input)
{
    runFileOperation(
        tr("Decrypting: ") + QFileInfo(decryptFileName).fileName(), std::move(input),
        [this](QIODevice& source, StreamProgress& progress) {
            return CryptoFile::decrypt(source, decryptedImage, decryptPassword, &progress);
        },
        &Varnisk::decryptImageFinished);
}

void Varnisk::decryptImageFinished(const CryptoFile::Result& read)
{
    if (!read.ok()) {
        reportFailure(read, OutcomeMessage::Operation::Decrypt);
        endDecryption();
        return;
    }
    const ImageFormat* format = ImageFormat::detect(decryptedImage);
    if (format == nullptr) {
        critical(tr("Image format not recognized!"));
    } else {
        const QString target = askSaveFileName(tr("Select File..."),
                                               decryptedStem() + QLatin1String(format->extension),
                                               tr(format->filter), QString());
        if (!target.isEmpty() && !refuseSameFile(decryptFileName, target)) {
            const CryptoFile::Result written = CryptoFile::write(decryptedImage, target);
            if (written.ok())
                information(tr("File successfully decrypted!"));
            else
                reportFailure(written, OutcomeMessage::Operation::Decrypt);
        }
    }
    secureWipe(decryptedImage);
    endDecryption();
}

void Varnisk::runFileOperation(const QString& text, std::unique_ptr<QFile> source,
                               FileOperation::Work work, FileOperationStep whenDone)
{
    fileOperationDone = whenDone;
    fileOperation.start(text, std::move(source), std::move(work));
}

void Varnisk::fileOperationFinished(const CryptoFile::Result& result)
{
    // Nothing of it shows over the lock page (a Save dialog least of all): its outcome waits for
    // the unlock. Its passwords are done with now.
    if (locked) {
        heldOperationResult = result;
        encryptPasswordDialog.clear();
        decryptPasswordDialog.clear();
        return;
    }
    (this->*std::exchange(fileOperationDone, nullptr))(result);
    for (const QString& name : std::exchange(deferredOpens, {}))
        openFile(name);
}

bool Varnisk::refuseSameFile(const QString& source, const QString& target)
{
    if (!CryptoFile::sameFile(source, target))
        return false;
    critical(tr("The target is the source file itself!\nChoose another file name, so that the "
                "source is not overwritten."));
    return true;
}
