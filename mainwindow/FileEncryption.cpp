#include "FileEncryption.h"

#include "dialogs/MessageBoxes.h"
#include "encryption/StreamCipher.h"
#include "files/AtomicFile.h"
#include "files/CryptoFile.h"
#include "files/ImageFormat.h"
#include "mainwindow/PasswordFlow.h"
#include "mainwindow/TracelessFileDialog.h"
#include "mainwindow/Varnisk.h"
#include "securememory/SecureWipe.h"

#include <QDialog>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

using Operation = OutcomeMessage::Operation;

} // namespace

FileEncryption::FileEncryption(QWidget* parentWindow, const Members& windowMembers)
    : QObject(parentWindow), window(parentWindow), members(windowMembers),
      fileOperation(parentWindow)
{
    connect(&fileOperation, &FileOperation::finished, this, &FileEncryption::workEnded);
}

// The operations' texts are the main window's.
void FileEncryption::encryptContinued(int result)
{
    if (result == QDialog::Accepted &&
        !refuseSameFile(window, members.encryptSource, members.encryptTarget)) {
        auto source = std::make_unique<QFile>(members.encryptSource);
        const QString target = members.encryptTarget;
        if (const Result refused = AtomicFile::checkReplaceable(target); !refused.ok()) {
            MessageBoxes::report(window, refused, Operation::Encrypt);
        } else if (!CryptoFile::openInput(*source, CryptoFile::Input::RegularFile)) {
            MessageBoxes::report(window, {Result::Outcome::CannotRead, {}}, Operation::Encrypt);
        } else {
            const auto length = static_cast<quint64>(source->size());
            const SecureStringHolder& password = members.encryptPassword;
            const KeyDerivation derivation = members.encryptFlow.derivation();
            run(
                members.encryptFlow.status(), std::move(source),
                [target, length, &password, derivation](QIODevice& input,
                                                        StreamProgress& progress) {
                    return CryptoFile::encrypt(input, length, target, password,
                                               AtomicFile::Strategy::Replace, &progress,
                                               derivation);
                },
                &FileEncryption::encryptFinished);
            return;
        }
    }
    members.encryptFlow.end();
}

void FileEncryption::encryptFinished(const Result& written)
{
    if (written.ok())
        MessageBoxes::information(window, Varnisk::tr("File successfully encrypted!"));
    else
        MessageBoxes::report(window, written, Operation::Encrypt);
    members.encryptFlow.end();
}

void FileEncryption::beginDecryption(const QString& fileName)
{
    dataTarget.clear();
    members.decryptFlow.begin(fileName,
                              Varnisk::tr("Decrypting: ") + QFileInfo(fileName).fileName());
}

void FileEncryption::decryptContinued(int result)
{
    auto input = std::make_unique<QFile>(members.decryptFileName);
    if (result != QDialog::Accepted) {
        endDecryption({Result::Outcome::Cancelled, {}});
        return;
    }
    if (!CryptoFile::openInput(*input, CryptoFile::Input::RegularFileOrFifo)) {
        MessageBoxes::report(window, {Result::Outcome::CannotRead, {}}, Operation::Decrypt);
        endDecryption({Result::Outcome::CannotRead, {}});
        return;
    }
    // A data file is written where the user says (asked once, not again after a mistyped
    // password); an image is decrypted into memory first, to be named by its format.
    const bool image = QFileInfo(members.decryptFileName).suffix() != QLatin1String("sdat");
    if (!image && dataTarget.isEmpty()) {
        const QString target = TracelessFileDialog::saveFileName(
            window, Varnisk::tr("Select File..."), decryptedStem(), QString(), QString());
        if (target.isEmpty() || refuseSameFile(window, members.decryptFileName, target)) {
            endDecryption({Result::Outcome::Cancelled, {}});
            return;
        }
        dataTarget = target;
    }
    const SecureStringHolder& password = members.decryptPassword;
    run(
        members.decryptFlow.status(), std::move(input),
        [this, image, target = dataTarget, &password](QIODevice& source,
                                                      StreamProgress& progress) -> Result {
            if (image)
                return StreamCipher::decrypt(source, decryptedImage, password, &progress);
            return CryptoFile::decrypt(source, target, password, &progress);
        },
        image ? &FileEncryption::decryptImageFinished : &FileEncryption::decryptDataFinished);
}

QString FileEncryption::decryptedStem() const
{
    // The encrypted file's name without its own suffix: report.pdf.sdat gives report.pdf.
    const QString& name = members.decryptFileName;
    const QString suffix = QFileInfo(name).suffix();
    if (suffix.isEmpty())
        return name;
    return name.left(name.size() - suffix.size() - 1);
}

void FileEncryption::decryptDataFinished(const Result& read)
{
    if (read.ok())
        MessageBoxes::information(window, Varnisk::tr("File successfully decrypted!"));
    else
        MessageBoxes::report(window, read, Operation::Decrypt);
    endDecryption(read);
}

void FileEncryption::endDecryption(const Result& read)
{
    const QString status = members.decryptFlow.status();
    members.decryptFlow.end();
    // A mistyped password does not drop the work: the same file asks again until cancelled.
    if (read.mayBeWrongPassword())
        members.decryptFlow.begin(members.decryptFileName, status);
    else
        dataTarget.clear();
}

void FileEncryption::decryptImageFinished(const Result& read)
{
    if (!read.ok()) {
        MessageBoxes::report(window, read, Operation::Decrypt);
        endDecryption(read);
        return;
    }
    const ImageFormat* format = ImageFormat::detect(decryptedImage);
    if (format == nullptr) {
        MessageBoxes::critical(window, Varnisk::tr("Image format not recognized!"));
    } else {
        const QString target =
            TracelessFileDialog::saveFileName(window, Varnisk::tr("Select File..."),
                                              decryptedStem() + QLatin1String(format->extension),
                                              Varnisk::tr(format->filter), QString());
        if (!target.isEmpty() && !refuseSameFile(window, members.decryptFileName, target)) {
            const Result written = CryptoFile::write(decryptedImage, target);
            if (written.ok())
                MessageBoxes::information(window, Varnisk::tr("File successfully decrypted!"));
            else
                MessageBoxes::report(window, written, Operation::Decrypt);
        }
    }
    secureWipe(decryptedImage);
    endDecryption({});
}

void FileEncryption::run(const QString& text, std::unique_ptr<QFile> source,
                         FileOperation::Work work, Step step)
{
    whenDone = step;
    fileOperation.start(text, std::move(source), std::move(work));
}

void FileEncryption::workEnded(const Result& result)
{
    // Nothing of it shows over the lock page (a Save dialog least of all): its outcome waits for
    // the unlock. Its passwords are done with now.
    if (held) {
        heldResult = result;
        members.encryptFlow.clearPassword();
        members.decryptFlow.clearPassword();
        return;
    }
    (this->*std::exchange(whenDone, nullptr))(result);
    emit ended();
}

void FileEncryption::hold()
{
    held = true;
}

bool FileEncryption::release()
{
    held = false;
    if (!heldResult.has_value())
        return false;
    workEnded(*std::exchange(heldResult, std::nullopt));
    return true;
}

bool FileEncryption::refuseSameFile(QWidget* parent, const QString& source, const QString& target)
{
    if (!CryptoFile::sameFile(source, target))
        return false;
    MessageBoxes::critical(parent, Varnisk::tr("The target is the source file itself!\nChoose "
                                               "another file name, so that the source is not "
                                               "overwritten."));
    return true;
}
