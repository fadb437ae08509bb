#include "CryptoFile.h"

#include "EncryptedStream.h"
#include "SecureStringHolder.h"
#include "SecureWipe.h"

#include <QBuffer>
#include <QDataStream>
#include <QFileInfo>
#include <QSaveFile>

#include <exception>
#include <limits>

namespace {

using Outcome = CryptoFile::Outcome;
using Result = CryptoFile::Result;

// Wipes what the engine left on the stack (plaintext blocks among it) when the function that
// ran it returns.
struct EngineStackWipe
{
    ~EngineStackWipe() { secureWipeStack(); }
};

Result outcomeOf(int decryptResult)
{
    switch (decryptResult) {
    case DecryptOk:
        return {Outcome::Success, {}};
    case DecryptVersionTooOld:
        return {Outcome::VersionTooOld, {}};
    case DecryptVersionTooNew:
        return {Outcome::VersionTooNew, {}};
    default:
        return {Outcome::WrongPassword, {}};
    }
}

bool openTarget(QSaveFile& file)
{
    if (!CryptoFile::isWritableTarget(file.fileName()))
        return false;
    const bool replacing = QFileInfo::exists(file.fileName());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // A replaced file keeps its mode; a new one, often a decrypted secret, is for its owner only.
    if (!replacing)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

Result commit(QSaveFile& file)
{
    if (file.commit())
        return {Outcome::Success, {}};
    return {Outcome::SaveFailed, file.errorString()};
}

} // namespace

bool CryptoFile::sameFile(const QString& first, const QString& second)
{
    const QFileInfo a(first);
    const QFileInfo b(second);
    if (!a.exists() || !b.exists())
        return a.absoluteFilePath() == b.absoluteFilePath();
    return a.canonicalFilePath() == b.canonicalFilePath();
}

bool CryptoFile::isWritableTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return false;
    if (info.exists())
        return info.isWritable() && QFileInfo(info.absolutePath()).isWritable();
    const QFileInfo dir(info.absolutePath());
    return dir.isDir() && dir.isWritable();
}

Result CryptoFile::encrypt(QIODevice& source, quint64 length, const QString& target,
                           const SecureStringHolder& password)
{
    const EngineStackWipe wipeAfterwards;
    QSaveFile file(target);
    if (!openTarget(file))
        return {Outcome::CannotWrite, {}};
    QDataStream input(&source);
    input.setByteOrder(QDataStream::LittleEndian);
    QDataStream output(&file);
    output.setByteOrder(QDataStream::LittleEndian);
    try {
        encryptStream(input, length, output, password);
    } catch (const std::exception& error) {
        file.cancelWriting();
        return {Outcome::Failed, QString::fromUtf8(error.what())};
    } catch (...) {
        file.cancelWriting();
        return {Outcome::UnknownError, {}};
    }
    return commit(file);
}

Result CryptoFile::decrypt(QIODevice& source, QIODevice& target, const SecureStringHolder& password)
{
    const EngineStackWipe wipeAfterwards;
    QDataStream input(&source);
    input.setByteOrder(QDataStream::LittleEndian);
    QDataStream output(&target);
    output.setByteOrder(QDataStream::LittleEndian);
    try {
        return outcomeOf(decryptStream(input, output, password));
    } catch (const std::exception& error) {
        return {Outcome::Failed, QString::fromUtf8(error.what())};
    } catch (...) {
        return {Outcome::UnknownError, {}};
    }
}

Result CryptoFile::decrypt(QIODevice& source, const QString& target,
                           const SecureStringHolder& password)
{
    QSaveFile file(target);
    if (!openTarget(file))
        return {Outcome::CannotWrite, {}};
    const Result result = decrypt(source, static_cast<QIODevice&>(file), password);
    if (!result.ok()) {
        // Unverified plaintext never reaches the target's path.
        file.cancelWriting();
        return result;
    }
    return commit(file);
}

Result CryptoFile::decrypt(QIODevice& source, QByteArray& plain, const SecureStringHolder& password)
{
    QByteArray buffer;
    // The plaintext is never longer than the file: room for all of it from the start, so the
    // buffer is not reallocated, leaving copies of the text behind, as it grows.
    if (!source.isSequential() && source.size() < std::numeric_limits<int>::max())
        buffer.reserve(static_cast<int>(source.size()));
    QBuffer device(&buffer);
    device.open(QIODevice::WriteOnly);
    const Result result = decrypt(source, static_cast<QIODevice&>(device), password);
    device.close();
    if (result.ok())
        plain.swap(buffer);
    else
        secureWipe(buffer);
    return result;
}

Result CryptoFile::write(const QByteArray& data, const QString& target)
{
    QSaveFile file(target);
    if (!openTarget(file))
        return {Outcome::CannotWrite, {}};
    if (file.write(data) != data.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return {Outcome::SaveFailed, why};
    }
    return commit(file);
}
