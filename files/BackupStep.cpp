#include "BackupStep.h"

#include "files/FileDescriptor.h"
#include "files/FileSystemCalls.h"
#include "files/TemporaryFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Result replaceFailed(int error)
{
    return {Result::Outcome::SaveFailed, qt_error_string(error)};
}

} // namespace

Result BackupStep::open(const QString& path)
{
    keptBackup = false;
    const QFileInfo backup(path);
    folderName = QFile::encodeName(backup.absolutePath());
    name = QFile::encodeName(backup.fileName());
    folderFd = ::open(folderName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0 || name.isEmpty())
        return {Result::Outcome::CannotWrite, qt_error_string(folderFd < 0 ? errno : EISDIR)};
    // Its link or copy is a temporary file of ours too: no clean-up may take it for a stale one.
    TemporaryFiles::clean(folderFd);
    return {};
}

Result BackupStep::prepare(int sourceFolderFd, const QByteArray& fileName)
{
    struct stat old = {};
    if (fstatat(sourceFolderFd, fileName.constData(), &old, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Result{} : replaceFailed(errno); // nothing to keep
    temporary = TemporaryFiles::create(folderFd, name, temporarySlot, [&](const char* link) {
        return FileSystemCalls::instance().linkAt(sourceFolderFd, fileName.constData(), folderFd,
                                                  link, 0);
    });
    if (!temporary.isEmpty())
        return {};
    // No links on this file system (vfat, exFAT), or another one: a copy.
    if (!FileSystemCalls::isUnsupported(errno) && errno != EXDEV && errno != EMLINK)
        return replaceFailed(errno);
    return copy(sourceFolderFd, fileName);
}

Result BackupStep::copy(int sourceFolderFd, const QByteArray& fileName)
{
    const FileDescriptor source(openat(sourceFolderFd, fileName.constData(), O_RDONLY | O_CLOEXEC));
    struct stat info = {};
    if (source.get() < 0 || fstat(source.get(), &info) != 0)
        return replaceFailed(errno);
    int copyFd = -1;
    temporary = TemporaryFiles::create(folderFd, name, temporarySlot, [&](const char* copyName) {
        copyFd = openat(folderFd, copyName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        S_IRUSR | S_IWUSR);
        return copyFd < 0 ? -1 : 0;
    });
    if (temporary.isEmpty())
        return replaceFailed(errno);
    const FileDescriptor target(copyFd);
    char chunk[64 * 1024];
    int error = 0;
    for (;;) {
        const ssize_t count = ::read(source.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = count < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; error == 0 && done < count;) {
            const ssize_t put =
                ::write(target.get(), chunk + done, static_cast<size_t>(count - done));
            if (put > 0)
                done += put;
            else if (put == 0 || errno != EINTR)
                error = put == 0 ? EIO : errno;
        }
        if (error != 0)
            break;
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    if (error == 0 && !FileSystemCalls::giveMode(target.get(), info.st_mode & 07777))
        error = errno;
    if (error == 0 && FileSystemCalls::instance().syncFile(target.get()) != 0)
        error = errno;
    return error == 0 ? Result{} : replaceFailed(error);
}

Result BackupStep::keep()
{
    if (temporary.isEmpty())
        return {};
    keptBackup = FileSystemCalls::instance().renameAt(folderFd, temporary.constData(), folderFd,
                                                      name.constData(), 0) == 0;
    const int error = errno;
    // A rename onto another link of the same file leaves both names: the temporary one goes.
    dropTemporary();
    return keptBackup ? Result{} : replaceFailed(error);
}

Result BackupStep::sync(const QByteArray& otherFolder) const
{
    if (!keptBackup || folderName == otherFolder ||
        FileSystemCalls::instance().syncFolder(folderFd) == 0)
        return {};
    return {Result::Outcome::NotSynced, qt_error_string(errno)};
}

void BackupStep::dropTemporary()
{
    if (!temporary.isEmpty())
        unlinkat(folderFd, temporary.constData(), 0);
    temporary.clear();
    TemporaryFiles::forget(temporarySlot);
}

void BackupStep::release()
{
    dropTemporary();
    if (folderFd >= 0)
        ::close(folderFd);
    folderFd = -1;
}
