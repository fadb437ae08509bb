#include "AtomicFile.h"

#include "SecureWipe.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(isUncopyable<AtomicFile>); // its write buffer is wiped

namespace {

// Writes are gathered up to this size before they go to the system: the stream format hands
// over a few KiB at a time.
constexpr qint64 bufferSize = 64 * 1024;

// Tries hidden names beside the target until `create` succeeds or fails for another reason
// than a name that is taken. Returns the name, or an empty one with errno set.
template <typename Create> QByteArray freshName(const QByteArray& fileName, Create create)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = '.' + fileName.left(200) + '.' +
                                QByteArray::number(QRandomGenerator::system()->generate64(), 36) +
                                ".tmp";
        if (create(name.constData()) == 0)
            return name;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

bool isAccessDenied(int error)
{
    return error == EACCES || error == EPERM;
}

} // namespace

AtomicFile::SystemCalls& AtomicFile::systemCalls()
{
    static SystemCalls calls{::fsync, ::fsync, ::renameat, true};
    return calls;
}

AtomicFile::AtomicFile(const QString& target, Strategy writeStrategy)
    : targetPath(target), strategy(writeStrategy)
{}

AtomicFile::~AtomicFile()
{
    if (isOpen())
        discard();
}

bool AtomicFile::isReplaceable(const QString& target)
{
    const QFileInfo info(target);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    struct stat entry = {};
    if (info.fileName().isEmpty())
        return false;
    if (lstat(path.constData(), &entry) == 0) {
        if (S_ISREG(entry.st_mode)) {
            if (faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0)
                return false;
        } else if (!S_ISLNK(entry.st_mode)) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    return faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool AtomicFile::open(OpenMode mode)
{
    if (isOpen())
        return false;
    if ((mode & ReadOnly) || !(mode & WriteOnly))
        return fail(Failure::Open, EINVAL);
    failed = Failure::None;
    written = 0;
    touched = false;
    inPlace = false;
    const QFileInfo info(targetPath);
    folderName = QFile::encodeName(info.absolutePath());
    fileName = QFile::encodeName(info.fileName());
    if (fileName.isEmpty())
        return fail(Failure::Open, EISDIR);
    folderFd = ::open(folderName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return fail(Failure::Open, errno);

    struct stat old = {};
    const bool exists = fstatat(folderFd, fileName.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    int refusal = 0;
    if (!exists && errno != ENOENT)
        refusal = errno;
    else if (exists && S_ISDIR(old.st_mode))
        refusal = EISDIR;
    else if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode))
        refusal = EINVAL; // a device or pipe is not replaced by a file
    else if (exists && S_ISREG(old.st_mode) &&
             faccessat(folderFd, fileName.constData(), W_OK, AT_EACCESS) != 0)
        refusal = errno; // a read-only file stays as its owner wants it
    if (refusal != 0) {
        fail(Failure::Open, refusal);
        release();
        return false;
    }

    const bool regular = exists && S_ISREG(old.st_mode);
    bool opened = openTemporary(regular ? &old : nullptr);
    if (!opened && isAccessDenied(errno) && regular && strategy == Strategy::ReplaceOrInPlace)
        opened = openInPlace();
    if (!opened) {
        fail(Failure::Open, errno);
        release();
        return false;
    }
    buffer = std::make_unique<char[]>(bufferSize);
    buffered = 0;
    return QIODevice::open(WriteOnly | Unbuffered);
}

bool AtomicFile::openTemporary(const struct stat* old)
{
    unnamed = false;
    // An unnamed file vanishes by itself when the process dies; giving it a name later needs
    // /proc.
    if (systemCalls().unnamedTemporaries && access("/proc/self/fd", X_OK) == 0) {
        fd = openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
        unnamed = fd >= 0;
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
    }
    if (!unnamed) {
        temporaryName = freshName(fileName, [this](const char* name) {
            fd = openat(folderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        S_IRUSR | S_IWUSR);
            return fd < 0 ? -1 : 0;
        });
        if (temporaryName.isEmpty())
            return false;
    }
    mode_t mode = S_IRUSR | S_IWUSR;
    if (old != nullptr) {
        mode = old->st_mode & 07777;
        if (old->st_uid != geteuid() || old->st_gid != getegid()) {
            // Root replacing a user's file leaves it theirs; anyone else cannot, and need not.
            const int ignored = fchown(fd, old->st_uid, old->st_gid);
            Q_UNUSED(ignored)
        }
    }
    if (fchmod(fd, mode) != 0) {
        const int error = errno;
        if (!temporaryName.isEmpty())
            unlinkat(folderFd, temporaryName.constData(), 0);
        temporaryName.clear();
        errno = error;
        return false;
    }
    return true;
}

bool AtomicFile::openInPlace()
{
    fd = openat(folderFd, fileName.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat info = {};
    if (fd < 0 || fstat(fd, &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode) || info.st_size > std::numeric_limits<int>::max()) {
        errno = EFBIG;
        return false;
    }
    oldContent.resize(static_cast<int>(info.st_size));
    for (qint64 done = 0; done < oldContent.size();) {
        const ssize_t count = pread(fd, oldContent.data() + done,
                                    static_cast<size_t>(oldContent.size() - done), done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = EIO; // the file shrank under our feet
            return false;
        }
        done += count;
    }
    inPlace = true;
    return true;
}

qint64 AtomicFile::readData(char*, qint64)
{
    return -1;
}

qint64 AtomicFile::writeData(const char* data, qint64 size)
{
    if (failed != Failure::None)
        return -1;
    if (buffered + size > bufferSize && !flushBuffer())
        return -1;
    if (size >= bufferSize)
        return writeOut(data, size) ? size : -1;
    std::memcpy(buffer.get() + buffered, data, static_cast<size_t>(size));
    buffered += size;
    return size;
}

bool AtomicFile::writeOut(const char* data, qint64 size)
{
    touched = true;
    while (size > 0) {
        const ssize_t count = ::write(fd, data, static_cast<size_t>(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return fail(Failure::Write, count < 0 ? errno : EIO);
        data += count;
        size -= count;
        written += count;
    }
    return true;
}

bool AtomicFile::flushBuffer()
{
    const bool ok = writeOut(buffer.get(), buffered);
    OPENSSL_cleanse(buffer.get(), static_cast<size_t>(buffered));
    buffered = 0;
    return ok;
}

bool AtomicFile::commit()
{
    if (!isOpen())
        return false;
    if (failed != Failure::None || !flushBuffer() || !(inPlace ? finishInPlace() : putInPlace())) {
        discard();
        return false;
    }
    release();
    return true;
}

bool AtomicFile::putInPlace()
{
    if (systemCalls().syncFile(fd) != 0)
        return fail(Failure::SyncFile, errno);
    if (unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        temporaryName = freshName(fileName, [this, &self](const char* name) {
            return linkat(AT_FDCWD, self.constData(), folderFd, name, AT_SYMLINK_FOLLOW);
        });
        if (temporaryName.isEmpty())
            return fail(Failure::Replace, errno);
    }
    // Nothing between naming the file and renaming it: a process killed there leaves the
    // complete new file under its hidden name.
    if (systemCalls().renameAt(folderFd, temporaryName.constData(), folderFd,
                               fileName.constData()) != 0)
        return fail(Failure::Replace, errno);
    temporaryName.clear();
    if (systemCalls().syncFolder(folderFd) != 0)
        return fail(Failure::SyncFolder, errno);
    return true;
}

bool AtomicFile::finishInPlace()
{
    touched = true;
    if (ftruncate(fd, written) != 0)
        return fail(Failure::Write, errno);
    if (systemCalls().syncFile(fd) != 0)
        return fail(Failure::SyncFile, errno);
    return true;
}

bool AtomicFile::restoreOldContent()
{
    int error = 0;
    for (qint64 done = 0; error == 0 && done < oldContent.size();) {
        const ssize_t count = pwrite(fd, oldContent.constData() + done,
                                     static_cast<size_t>(oldContent.size() - done), done);
        if (count > 0)
            done += count;
        else if (count == 0 || errno != EINTR)
            error = count == 0 ? EIO : errno;
    }
    if (error == 0 && ftruncate(fd, oldContent.size()) != 0)
        error = errno;
    if (error == 0 && systemCalls().syncFile(fd) != 0)
        error = errno;
    if (error == 0)
        return true;
    fail(Failure::Restore, error);
    failed = Failure::Restore;
    return false;
}

bool AtomicFile::discard()
{
    if (!isOpen())
        return failed != Failure::Restore;
    bool intact = true;
    if (inPlace && touched)
        intact = restoreOldContent();
    else if (!temporaryName.isEmpty())
        unlinkat(folderFd, temporaryName.constData(), 0);
    release();
    return intact;
}

void AtomicFile::close()
{
    discard();
}

bool AtomicFile::fail(Failure failure, int error)
{
    if (failed == Failure::None) {
        failed = failure;
        setErrorString(qt_error_string(error));
    }
    return false;
}

void AtomicFile::release()
{
    if (fd >= 0)
        ::close(fd);
    if (folderFd >= 0)
        ::close(folderFd);
    fd = -1;
    folderFd = -1;
    temporaryName.clear();
    unnamed = false;
    if (buffer)
        OPENSSL_cleanse(buffer.get(), bufferSize);
    buffer.reset();
    buffered = 0;
    oldContent.clear();
    if (isOpen())
        QIODevice::close();
}
