#include "CryptoFile.h"

#include "encryption/StreamCipher.h"
#include "files/FileDescriptor.h"

#include <QFile>
#include <QFileInfo>

#include <new>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Opens `target` for writing, runs `pass` on it, and puts the file in place after a successful
// pass or drops it after a failed one; running out of memory is a failure like the others.
template <typename Pass>
WriteResult writeThrough(const QString& target, const AtomicFile::Options& options,
                         const StreamProgress* progress, Pass pass)
{
    try {
        AtomicFile file(target, options);
        if (!file.open(QIODevice::WriteOnly))
            return file.failure();
        const Result passed = pass(file);
        if (passed.ok())
            return file.commit(progress);
        static_cast<void>(file.discard());
        // A failed write (or a damaged file) is the file's failure, with the file's reason.
        return file.failure().ok() ? passed : file.failure();
    } catch (const std::bad_alloc&) {
        return Result::outOfMemory();
    }
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

WriteResult CryptoFile::encrypt(QIODevice& source, quint64 length, const QString& target,
                                const SecureStringHolder& password,
                                const AtomicFile::Options& options, StreamProgress* progress,
                                KeyDerivation derivation)
{
    return writeThrough(target, options, progress, [&](AtomicFile& file) {
        return StreamCipher::encrypt(source, length, file, password, progress, derivation);
    });
}

WriteResult CryptoFile::decrypt(QIODevice& source, const QString& target,
                                const SecureStringHolder& password, StreamProgress* progress,
                                const AtomicFile::Options& options)
{
    // Unverified plaintext never reaches the target's path.
    return writeThrough(target, options, progress, [&](AtomicFile& file) {
        return StreamCipher::decrypt(source, file, password, progress);
    });
}

WriteResult CryptoFile::write(const QByteArray& data, const QString& target,
                              const AtomicFile::Options& options)
{
    return writeThrough(target, options, nullptr, [&](AtomicFile& file) {
        return file.write(data) == data.size() ? Result{} : file.failure();
    });
}
