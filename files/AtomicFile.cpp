#include "AtomicFile.h"

#include "encryption/StreamProgress.h"
#include "files/FileSystemCalls.h"
#include "files/TemporaryFiles.h"
#include "securememory/SecureWipe.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(isUncopyable<AtomicFile>); // its write buffer is wiped

namespace {

using Outcome = Result::Outcome;

// Writes are gathered up to this size before they go to the system: the stream format hands
// over a few KiB at a time.
constexpr qint64 bufferSize = 64 * 1024;

bool isAccessDenied(int error)
{
    return error == EACCES || error == EPERM;
}

bool isCancelled(const StreamProgress* progress)
{
    return progress != nullptr && progress->isCancelled();
}

int openFolder(const QByteArray& name)
{
    return ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The rule for what may be replaced: nothing there (`found` false), a regular file that may be
// written (a read-only one stays as its owner wants it), or a link (replaced itself). Not a
// folder, and not a device or pipe, which a file does not replace. 0, or the errno why not.
int refusalOf(int folderFd, const char* name, struct stat& found, bool& exists)
{
    exists = fstatat(folderFd, name, &found, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists)
        return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(found.st_mode))
        return EISDIR;
    if (S_ISREG(found.st_mode))
        return faccessat(folderFd, name, W_OK, AT_EACCESS) != 0 ? errno : 0;
    return S_ISLNK(found.st_mode) ? 0 : EINVAL;
}

} // namespace

AtomicFile::AtomicFile(const QString& target, const Options& writeOptions)
    : targetPath(target), options(writeOptions)
{}

AtomicFile::~AtomicFile()
{
    // Also what an open() left that threw (out of memory) before it was done.
    if (isOpen())
        static_cast<void>(discard());
    else
        release();
}

Result AtomicFile::checkReplaceable(const QString& target)
{
    const QFileInfo info(target);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    struct stat found = {};
    bool exists = false;
    int error = name.isEmpty() ? EISDIR : 0;
    if (error == 0)
        error = refusalOf(AT_FDCWD, QFile::encodeName(info.absoluteFilePath()).constData(), found,
                          exists);
    if (error == 0 && faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (error != 0)
        return {Outcome::CannotWrite, qt_error_string(error)};
    return {};
}

bool AtomicFile::open(OpenMode mode)
{
    if (isOpen())
        return false;
    failed = {};
    if ((mode & ReadOnly) || !(mode & WriteOnly))
        return fail(Outcome::CannotWrite, EINVAL);
    buffer = std::make_unique<char[]>(bufferSize);
    buffered = 0;
    writtenBytes = 0;
    inPlace = false;
    written = FileIdentity();
    backupNotKept.clear();
    const QFileInfo info(targetPath);
    folderName = QFile::encodeName(info.absolutePath());
    fileName = QFile::encodeName(info.fileName());
    if (fileName.isEmpty())
        return fail(Outcome::CannotWrite, EISDIR);
    folderFd = openFolder(folderName);
    if (folderFd < 0)
        return fail(Outcome::CannotWrite, errno);
    TemporaryFiles::clean(folderFd);

    bool regular = false;
    struct stat old = {};
    if (!fail(checkTarget(regular, old))) {
        release();
        return false;
    }
    const bool keepsMode = regular && !options.ownerOnly;
    finalMode = keepsMode ? old.st_mode & 07777 : S_IRUSR | S_IWUSR;
    // Root replacing a user's file leaves it theirs; anyone else cannot, and need not.
    changeOwner = keepsMode && (old.st_uid != geteuid() || old.st_gid != getegid());
    finalOwner = old.st_uid;
    finalGroup = old.st_gid;
    bool opened = openTemporary();
    if (!opened && isAccessDenied(errno) && regular &&
        options.strategy == Strategy::ReplaceOrInPlace) {
        Result refused;
        fd = oldBytes.open(folderFd, fileName, options.expected, refused);
        inPlace = true;
        opened = fd >= 0;
        if (!opened)
            fail(refused);
    }
    if (!opened) {
        fail(Outcome::CannotWrite, errno);
        release();
        return false;
    }
    return QIODevice::open(WriteOnly | Unbuffered);
}

Result AtomicFile::checkTarget(bool& regular, struct stat& old)
{
    bool exists = false;
    if (const int refusal = refusalOf(folderFd, fileName.constData(), old, exists))
        return {Outcome::CannotWrite, qt_error_string(refusal)};
    regular = exists && S_ISREG(old.st_mode);
    if (exists && !options.replaceExisting)
        return {Outcome::Exists, qt_error_string(EEXIST)};
    if (options.expected && options.expected->exists() != exists)
        return {Outcome::Changed, {}};
    if (!options.backup.isEmpty()) {
        const Result opened = backup.open(options.backup);
        if (!opened.ok())
            return opened;
    }
    if (options.identifyWritten) {
        writtenDigest.reset(EVP_MD_CTX_new());
        if (!writtenDigest || EVP_DigestInit_ex(writtenDigest.get(), EVP_sha256(), nullptr) == 0)
            return {Outcome::CannotWrite, qt_error_string(ENOMEM)};
    }
    return {};
}

bool AtomicFile::openTemporary()
{
    unnamed = false;
    // An unnamed file vanishes by itself when the process dies; giving it a name later needs
    // /proc.
    if (FileSystemCalls::instance().unnamedTemporaries && access("/proc/self/fd", X_OK) == 0) {
        fd = openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
        unnamed = fd >= 0;
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
    }
    if (unnamed)
        return true;
    // The owner's only, whatever the target's mode, until it is complete.
    temporaryName =
        TemporaryFiles::create(folderFd, fileName, temporarySlot, [this](const char* name) {
            fd = openat(folderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        S_IRUSR | S_IWUSR);
            return fd < 0 ? -1 : 0;
        });
    if (temporaryName.isEmpty())
        return false;
    // Tells a clean-up in another process namespace that its writer lives.
    flock(fd, LOCK_EX | LOCK_NB);
    return true;
}

qint64 AtomicFile::readData(char*, qint64)
{
    return -1;
}

qint64 AtomicFile::writeData(const char* data, qint64 size)
{
    if (!failed.ok())
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
    oldBytes.touch();
    if (writtenDigest && size > 0 &&
        EVP_DigestUpdate(writtenDigest.get(), data, static_cast<size_t>(size)) == 0)
        return fail(Outcome::SaveFailed, ENOMEM);
    while (size > 0) {
        const ssize_t count = ::write(fd, data, static_cast<size_t>(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return fail(Outcome::SaveFailed, count < 0 ? errno : EIO);
        data += count;
        size -= count;
        writtenBytes += count;
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

WriteResult AtomicFile::commit(const StreamProgress* progress)
{
    if (!isOpen())
        return failed.ok() ? Result{Outcome::SaveFailed, {}} : failed;
    const bool done =
        failed.ok() && flushBuffer() &&
        (inPlace ? fail(oldBytes.truncate(fd, writtenBytes)) && syncAndIdentify(progress)
                 : putInPlace(progress));
    if (!done) {
        static_cast<void>(discard());
        return failed;
    }
    WriteResult result;
    result.written = written;
    result.backupKept = backup.kept();
    result.backupNotKept = backupNotKept;
    result.inPlace = inPlace;
    release();
    return result;
}

bool AtomicFile::syncAndIdentify(const StreamProgress* progress)
{
    if (isCancelled(progress))
        return fail(Outcome::Cancelled, 0);
    if (FileSystemCalls::instance().syncFile(fd) != 0)
        return fail(Outcome::SaveFailed, errno);
    // A signal during a slow sync (a USB stick, a network file system) still cancels.
    if (isCancelled(progress))
        return fail(Outcome::Cancelled, 0);
    if (!writtenDigest)
        return true;
    struct stat info = {};
    QByteArray sha256(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (fstat(fd, &info) != 0)
        return fail(Outcome::SaveFailed, errno);
    if (EVP_DigestFinal_ex(writtenDigest.get(), reinterpret_cast<unsigned char*>(sha256.data()),
                           &length) == 0)
        return fail(Outcome::SaveFailed, ENOMEM);
    sha256.truncate(static_cast<int>(length));
    written = FileIdentity::of(info, sha256);
    return true;
}

bool AtomicFile::putInPlace(const StreamProgress* progress)
{
    // The mode comes after the sync, so that a file killed during it is the owner's only; a
    // power loss before the folder's sync can at worst leave it so.
    if (!syncAndIdentify(progress) || !giveMode())
        return false;
    if (unnamed && !nameTemporary())
        return false;
    const bool mustBeAbsent =
        !options.replaceExisting || (options.expected && !options.expected->exists());
    if (!(mustBeAbsent ? moveNoReplace() : moveAndCheck())) {
        written = FileIdentity();
        return false;
    }
    if (FileSystemCalls::instance().syncFolder(folderFd) != 0)
        return fail(Outcome::NotSynced, errno);
    return fail(backup.sync(folderName));
}

bool AtomicFile::giveMode()
{
    if (changeOwner) {
        const int ignored = fchown(fd, finalOwner, finalGroup);
        Q_UNUSED(ignored)
    }
    return FileSystemCalls::giveMode(fd, finalMode) || fail(Outcome::SaveFailed, errno);
}

bool AtomicFile::nameTemporary()
{
    // Nothing between naming the file and renaming it: a process killed there leaves the
    // complete new file under its hidden name, for the next write's clean-up.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    temporaryName =
        TemporaryFiles::create(folderFd, fileName, temporarySlot, [this, &self](const char* name) {
            return linkat(AT_FDCWD, self.constData(), folderFd, name, AT_SYMLINK_FOLLOW);
        });
    return !temporaryName.isEmpty() || fail(Outcome::SaveFailed, errno);
}

bool AtomicFile::moveNoReplace()
{
    const Outcome taken = options.expected ? Outcome::Changed : Outcome::Exists;
    const char* from = temporaryName.constData();
    const char* to = fileName.constData();
    FileSystemCalls& calls = FileSystemCalls::instance();
    int error = 0;
    if (calls.renameAt(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0) {
        dropTemporaryName();
        return true;
    }
    error = errno;
    // A network or FUSE file system without the flag: a link refuses an existing name too.
    if (error == EINVAL || error == ENOSYS) {
        if (calls.linkAt(folderFd, from, folderFd, to, 0) == 0) {
            unlinkat(folderFd, from, 0);
            dropTemporaryName();
            return true;
        }
        error = errno;
    }
    if (error == EEXIST)
        return fail(taken, EEXIST);
    if (!FileSystemCalls::isUnsupported(error))
        return fail(Outcome::SaveFailed, error);
    // Neither (vfat through FUSE): an empty file of our own claims the name, and the new file
    // is renamed over it. Only another program replacing that empty file in this instant
    // would go unnoticed.
    const int placeholder = openat(
        folderFd, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (placeholder < 0)
        return fail(errno == EEXIST ? taken : Outcome::SaveFailed, errno);
    ::close(placeholder);
    // Not in the table of names a signal removes: from the rename on, the name holds the new
    // file. A signal ending the program in this instant may leave the empty file instead.
    if (calls.renameAt(folderFd, from, folderFd, to, 0) != 0) {
        error = errno;
        unlinkat(folderFd, to, 0);
        return fail(Outcome::SaveFailed, error);
    }
    dropTemporaryName();
    return true;
}

bool AtomicFile::moveAndCheck()
{
    // The new version matters more than the old one: without a backup, the save goes on and
    // says why none was kept.
    if (const Result prepared = backup.isOpen() ? backup.prepare(folderFd, fileName) : Result{};
        !prepared.ok()) {
        backupNotKept = prepared.detail;
        backup.release();
    }
    if (options.expected) {
        bool done = false;
        if (!exchangeAndCheck(done))
            return false;
        if (done) {
            keepBackup();
            return true;
        }
        // The file system cannot swap: a check right before the rename. A replacement of the
        // target between the two would go unnoticed.
        if (FileIdentity::at(folderFd, fileName.constData()) != *options.expected)
            return fail(Outcome::Changed, 0);
    }
    if (FileSystemCalls::instance().renameAt(folderFd, temporaryName.constData(), folderFd,
                                             fileName.constData(), 0) != 0)
        return fail(Outcome::SaveFailed, errno);
    dropTemporaryName();
    keepBackup();
    return true;
}

void AtomicFile::keepBackup()
{
    if (const Result kept = backup.keep(); !kept.ok())
        backupNotKept = kept.detail;
}

bool AtomicFile::exchangeAndCheck(bool& done)
{
    // From the swap on, the temporary name holds the replaced file: no signal, and no failure
    // on the way out, may remove it.
    TemporaryFiles::forget(temporarySlot);
    FileSystemCalls& calls = FileSystemCalls::instance();
    const QByteArray swapped = std::exchange(temporaryName, QByteArray());
    const char* to = fileName.constData();
    if (calls.renameAt(folderFd, swapped.constData(), folderFd, to, RENAME_EXCHANGE) != 0) {
        const int error = errno;
        temporaryName = swapped;
        temporarySlot = TemporaryFiles::remember(folderFd, temporaryName);
        if (error == ENOENT)
            return fail(Outcome::Changed, 0); // the target is gone
        return FileSystemCalls::isUnsupported(error) || fail(Outcome::SaveFailed, error);
    }
    // The check looks at exactly the file that was swapped out.
    if (FileIdentity::at(folderFd, swapped.constData()) == *options.expected) {
        unlinkat(folderFd, swapped.constData(), 0); // a backup links it already
        done = true;
        return true;
    }
    // Another program's file: back in its place, over the new one if it must be. Should that
    // fail too, it goes to a name that no clean-up of temporary files takes for one of ours.
    if (calls.renameAt(folderFd, swapped.constData(), folderFd, to, RENAME_EXCHANGE) != 0) {
        const int error = errno;
        if (calls.renameAt(folderFd, swapped.constData(), folderFd, to, 0) == 0)
            return fail(Outcome::Changed, 0);
        QByteArray kept = swapped;
        kept.replace(kept.size() - 4, 4, ".kept");
        const bool moved = calls.renameAt(folderFd, swapped.constData(), folderFd, kept.constData(),
                                          RENAME_NOREPLACE) == 0;
        return fail({Outcome::SaveFailed, qt_error_string(error) + QStringLiteral(" (") +
                                              QFile::decodeName(moved ? kept : swapped) +
                                              QLatin1Char(')')});
    }
    temporaryName = swapped;
    temporarySlot = TemporaryFiles::remember(folderFd, temporaryName);
    return fail(Outcome::Changed, 0);
}

Result AtomicFile::discard()
{
    if (!isOpen())
        return failed.outcome == Outcome::Damaged ? failed : Result{};
    Result intact;
    if (inPlace)
        intact = oldBytes.restore(fd);
    else if (!temporaryName.isEmpty())
        unlinkat(folderFd, temporaryName.constData(), 0);
    // Nothing matters more than that the file may be damaged now; the reason stays the first
    // failure's.
    if (!intact.ok() && !fail(intact))
        failed.outcome = Outcome::Damaged;
    release();
    return intact;
}

void AtomicFile::close()
{
    static_cast<void>(discard());
}

bool AtomicFile::fail(Outcome outcome, int error)
{
    // A changed target and a cancel need no reason: the outcome says all.
    const bool reasoned =
        error != 0 && outcome != Outcome::Changed && outcome != Outcome::Cancelled;
    return fail(Result{outcome, reasoned ? qt_error_string(error) : QString()});
}

bool AtomicFile::fail(const Result& failure)
{
    if (failure.ok())
        return true;
    if (failed.ok()) {
        failed = failure;
        setErrorString(failure.detail);
    }
    return false;
}

void AtomicFile::dropTemporaryName()
{
    temporaryName.clear();
    TemporaryFiles::forget(temporarySlot);
}

void AtomicFile::release()
{
    backup.release();
    dropTemporaryName();
    if (fd >= 0)
        ::close(fd);
    if (folderFd >= 0)
        ::close(folderFd);
    fd = -1;
    folderFd = -1;
    unnamed = false;
    writtenDigest.reset();
    if (buffer)
        OPENSSL_cleanse(buffer.get(), bufferSize);
    buffer.reset();
    buffered = 0;
    oldBytes.release();
    if (isOpen())
        QIODevice::close();
}
