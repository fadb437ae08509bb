#include "CryptoFile.h"

#include "EncryptedStream.h"
#include "FileDescriptor.h"
#include "SecureStringHolder.h"
#include "SecureWipe.h"
#include "StreamCancelled.h"
#include "StreamOutputError.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <exception>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>

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

Result outOfMemory()
{
    return {Outcome::OutOfMemory, qt_error_string(ENOMEM)};
}

// Runs `work`, and words running out of memory as the failure it is; a file being written is
// discarded on the way out.
template <typename Work> Result unlessOutOfMemory(Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

// Runs one pass of the stream format and words what it threw. A failed write is the output
// device's failure, with the device's reason.
template <typename Pass> Result runStream(QIODevice& output, Pass pass)
{
    try {
        return pass();
    } catch (const StreamCancelled&) {
        return {Outcome::Cancelled, {}};
    } catch (const StreamOutputError&) {
        return {Outcome::SaveFailed, output.errorString()};
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    } catch (const std::exception& error) {
        return {Outcome::Failed, QString::fromUtf8(error.what())};
    } catch (...) {
        return {Outcome::UnknownError, {}};
    }
}

Result failureOf(const AtomicFile& file)
{
    switch (file.failure()) {
    case AtomicFile::Failure::Open:
        return {Outcome::CannotWrite, file.errorString()};
    case AtomicFile::Failure::SyncFolder:
        return {Outcome::NotSynced, file.errorString()};
    case AtomicFile::Failure::Restore:
        return {Outcome::Damaged, file.errorString()};
    case AtomicFile::Failure::Changed:
        return {Outcome::Changed, {}};
    case AtomicFile::Failure::Exists:
        return {Outcome::Exists, file.errorString()};
    case AtomicFile::Failure::Cancelled:
        return {Outcome::Cancelled, {}};
    default:
        return {Outcome::SaveFailed, file.errorString()};
    }
}

// Puts the file in place after a successful pass, or drops it after a failed one.
Result finish(AtomicFile& file, const Result& pass, const StreamProgress* progress = nullptr)
{
    if (pass.ok()) {
        if (!file.commit(progress))
            return failureOf(file);
        Result done = pass;
        done.written = file.writtenIdentity();
        done.backupKept = file.backupKept();
        done.inPlace = file.isInPlace();
        return done;
    }
    if (!file.discard() || file.failure() != AtomicFile::Failure::None)
        return failureOf(file);
    return pass;
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

bool CryptoFile::targetExists(const QString& path)
{
    struct stat entry = {};
    return lstat(QFile::encodeName(path).constData(), &entry) == 0;
}

bool CryptoFile::openInput(QFile& file, Input kind)
{
    FileDescriptor fd(
        ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info = {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode) && !(kind == Input::RegularFileOrFifo && S_ISFIFO(info.st_mode)))
        return false;
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return false;
    const int handle = fd.release();
    if (file.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(handle);
    return false;
}

Result CryptoFile::encrypt(QIODevice& source, quint64 length, const QString& target,
                           const SecureStringHolder& password, const AtomicFile::Options& options,
                           StreamProgress* progress)
{
    const EngineStackWipe wipeAfterwards;
    AtomicFile file(target, options);
    if (!file.open(QIODevice::WriteOnly))
        return failureOf(file);
    QDataStream input(&source);
    input.setByteOrder(QDataStream::LittleEndian);
    QDataStream output(&file);
    output.setByteOrder(QDataStream::LittleEndian);
    return finish(file,
                  runStream(file,
                            [&]() {
                                encryptStream(input, length, output, password, progress);
                                return Result{Outcome::Success, {}};
                            }),
                  progress);
}

Result CryptoFile::decrypt(QIODevice& source, QIODevice& target, const SecureStringHolder& password,
                           StreamProgress* progress)
{
    const EngineStackWipe wipeAfterwards;
    QDataStream input(&source);
    input.setByteOrder(QDataStream::LittleEndian);
    QDataStream output(&target);
    output.setByteOrder(QDataStream::LittleEndian);
    return runStream(target,
                     [&]() { return outcomeOf(decryptStream(input, output, password, progress)); });
}

Result CryptoFile::decrypt(QIODevice& source, const QString& target,
                           const SecureStringHolder& password, StreamProgress* progress,
                           const AtomicFile::Options& options)
{
    return unlessOutOfMemory([&]() {
        AtomicFile file(target, options);
        if (!file.open(QIODevice::WriteOnly))
            return failureOf(file);
        // Unverified plaintext never reaches the target's path.
        return finish(file, decrypt(source, static_cast<QIODevice&>(file), password, progress),
                      progress);
    });
}

Result CryptoFile::decrypt(QIODevice& source, QByteArray& plain, const SecureStringHolder& password,
                           StreamProgress* progress)
{
    QByteArray buffer;
    // The plaintext is never longer than the file: room for all of it from the start, so the
    // buffer is not reallocated, leaving copies of the text behind, as it grows.
    try {
        if (!source.isSequential() && source.size() < std::numeric_limits<int>::max())
            buffer.reserve(static_cast<int>(source.size()));
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    QBuffer device(&buffer);
    device.open(QIODevice::WriteOnly);
    const Result result = decrypt(source, static_cast<QIODevice&>(device), password, progress);
    device.close();
    if (result.ok())
        plain.swap(buffer);
    else
        secureWipe(buffer);
    return result;
}

Result CryptoFile::write(const QByteArray& data, const QString& target,
                         const AtomicFile::Options& options)
{
    return unlessOutOfMemory([&]() {
        AtomicFile file(target, options);
        if (!file.open(QIODevice::WriteOnly))
            return failureOf(file);
        const bool written = file.write(data) == data.size();
        return finish(file, written ? Result{Outcome::Success, {}} : failureOf(file));
    });
}
