#include "AtomicFile.h"

#include "FileDescriptor.h"
#include "StreamProgress.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes are gathered up to this size before they go to the system: the stream format hands
// over a few KiB at a time.
constexpr qint64 bufferSize = 64 * 1024;

// The named temporary files of the writes in progress, for unlinkTemporaries(): a fixed table
// that a signal handler walks without locks or allocation. More writes at once than entries
// leave the rest to the clean-up of the next write into their folder.
struct TemporaryEntry
{
    std::atomic<int> state{0};
    int folderFd = -1;
    char name[NAME_MAX + 1] = {};
};
enum : int
{
    Free,
    Filling,
    Ready,
};
constexpr int temporaryEntries = 32;
TemporaryEntry temporaries[temporaryEntries];
static_assert(std::atomic<int>::is_always_lock_free);

int rememberTemporary(int folderFd, const QByteArray& name)
{
    if (name.size() > NAME_MAX)
        return -1;
    for (int slot = 0; slot < temporaryEntries; ++slot) {
        int expected = Free;
        if (!temporaries[slot].state.compare_exchange_strong(expected, Filling))
            continue;
        temporaries[slot].folderFd = folderFd;
        std::memcpy(temporaries[slot].name, name.constData(), static_cast<size_t>(name.size()) + 1);
        temporaries[slot].state.store(Ready);
        return slot;
    }
    return -1;
}

void forgetTemporary(int& slot)
{
    if (slot >= 0)
        temporaries[slot].state.store(Free);
    slot = -1;
}

const QByteArray marker = ".varnisk-";

// This machine's name as it goes into temporary names: a folder may be shared over the network,
// and a process number means something only on the machine that gave it.
const QByteArray& hostName()
{
    static const QByteArray host = []() {
        char name[HOST_NAME_MAX + 1] = {};
        if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
            return QByteArray("localhost");
        QByteArray safe(name);
        for (char& c : safe) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.')
                c = '_';
        }
        return safe.left(64);
    }();
    return host;
}

// ".NAME.varnisk-HOST-PID-RANDOM.tmp", NAME shortened (never within a UTF-8 character) so that
// the whole fits any file system's limit.
QByteArray temporaryNameFor(const QByteArray& fileName)
{
    int length = std::min(fileName.size(), 120);
    while (length > 0 && length < fileName.size() && (fileName.at(length) & 0xC0) == 0x80)
        --length;
    return '.' + fileName.left(length) + marker + hostName() + '-' +
           QByteArray::number(static_cast<qint64>(getpid())) + '-' +
           QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".tmp";
}

// The host and process of the writer whose temporary file `name` is; false for any other name
// (a backup or recovery file never looks like one).
bool writerOf(const QByteArray& name, QByteArray& host, qint64& pid)
{
    const int at = name.lastIndexOf(marker);
    if (!name.startsWith('.') || !name.endsWith(".tmp") || at < 1)
        return false;
    const int start = at + marker.size();
    QList<QByteArray> parts = name.mid(start, name.size() - start - 4).split('-');
    if (parts.size() < 3 || parts.constLast().isEmpty())
        return false;
    bool number = false;
    parts.constLast().toULongLong(&number, 36);
    parts.removeLast();
    bool isPid = false;
    pid = parts.takeLast().toLongLong(&isPid);
    host = parts.join('-');
    return number && isPid && pid > 0;
}

// Removes the temporary files in the folder that a crash or SIGKILL left: only the user's own,
// from this machine, whose writer is gone.
void removeStaleTemporaries(int folderFd)
{
    const int listFd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = listFd < 0 ? nullptr : fdopendir(listFd);
    if (folder == nullptr) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    QByteArray host;
    qint64 pid = 0;
    while (const dirent* entry = readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (!writerOf(name, host, pid) || host != hostName() || pid == getpid())
            continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        const FileDescriptor fd(
            openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info = {};
        if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != geteuid())
            continue;
        // A writer in another process namespace looks gone from here; its lock tells.
        if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            continue;
        unlinkat(folderFd, entry->d_name, 0);
    }
    closedir(folder);
}

// Tries fresh temporary names for `fileName` until `create` makes one (returning 0) or fails
// for another reason than a taken name. The name is remembered for unlinkTemporaries() while
// it exists. Returns it, or an empty one with errno set.
template <typename Create>
QByteArray createTemporary(int folderFd, const QByteArray& fileName, int& slot, Create create)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryNameFor(fileName);
        // Before it exists, so that no moment is left in which a signal would miss it.
        slot = rememberTemporary(folderFd, name);
        if (create(name.constData()) == 0)
            return name;
        const int error = errno;
        forgetTemporary(slot);
        errno = error;
        if (error != EEXIST)
            return {};
    }
    return {};
}

bool isAccessDenied(int error)
{
    return error == EACCES || error == EPERM;
}

// The file system cannot do what was asked at all, as opposed to refusing this file.
bool isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

bool isCancelled(const StreamProgress* progress)
{
    return progress != nullptr && progress->isCancelled();
}

int openFolder(const QByteArray& name)
{
    return ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

AtomicFile::SystemCalls& AtomicFile::systemCalls()
{
    static SystemCalls calls{::fsync, ::fsync, ::renameat2, ::linkat, ::fchmod, true};
    return calls;
}

AtomicFile::AtomicFile(const QString& target, const Options& writeOptions)
    : targetPath(target), options(writeOptions)
{}

AtomicFile::~AtomicFile()
{
    // Also what an open() left that threw (out of memory) before it was done.
    if (isOpen())
        discard();
    else
        release();
}

void AtomicFile::unlinkTemporaries() noexcept
{
    for (TemporaryEntry& entry : temporaries) {
        if (entry.state.load() == Ready)
            unlinkat(entry.folderFd, entry.name, 0);
    }
}

bool AtomicFile::isReplaceable(const QString& target, int* reason)
{
    const QFileInfo info(target);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    struct stat entry = {};
    int error = 0;
    if (info.fileName().isEmpty())
        error = EISDIR;
    else if (lstat(path.constData(), &entry) != 0)
        error = errno == ENOENT ? 0 : errno;
    else if (S_ISDIR(entry.st_mode))
        error = EISDIR;
    else if (S_ISREG(entry.st_mode))
        error = faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0 ? errno : 0;
    else if (!S_ISLNK(entry.st_mode))
        error = EINVAL; // a device or pipe is not replaced by a file
    if (error == 0 && faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (reason != nullptr)
        *reason = error;
    return error == 0;
}

bool AtomicFile::open(OpenMode mode)
{
    if (isOpen())
        return false;
    if ((mode & ReadOnly) || !(mode & WriteOnly))
        return fail(Failure::Open, EINVAL);
    failed = Failure::None;
    buffer = std::make_unique<char[]>(bufferSize);
    buffered = 0;
    writtenBytes = 0;
    touched = false;
    inPlace = false;
    keptBackup = false;
    written = FileIdentity();
    const QFileInfo info(targetPath);
    folderName = QFile::encodeName(info.absolutePath());
    fileName = QFile::encodeName(info.fileName());
    if (fileName.isEmpty())
        return fail(Failure::Open, EISDIR);
    folderFd = openFolder(folderName);
    if (folderFd < 0)
        return fail(Failure::Open, errno);
    removeStaleTemporaries(folderFd);

    struct stat old = {};
    const bool exists = fstatat(folderFd, fileName.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    int refusal = 0;
    Failure refused = Failure::Open;
    if (!exists && errno != ENOENT)
        refusal = errno;
    else if (exists && S_ISDIR(old.st_mode))
        refusal = EISDIR;
    else if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode))
        refusal = EINVAL; // a device or pipe is not replaced by a file
    else if (exists && S_ISREG(old.st_mode) &&
             faccessat(folderFd, fileName.constData(), W_OK, AT_EACCESS) != 0)
        refusal = errno; // a read-only file stays as its owner wants it
    if (refusal == 0 && exists && !options.replaceExisting) {
        refused = Failure::Exists;
        refusal = EEXIST;
    } else if (refusal == 0 && options.expected && options.expected->exists() != exists) {
        refused = Failure::Changed;
        refusal = exists ? EEXIST : ENOENT;
    }
    if (refusal == 0 && !options.backup.isEmpty()) {
        const QFileInfo backup(options.backup);
        backupFolderName = QFile::encodeName(backup.absolutePath());
        backupName = QFile::encodeName(backup.fileName());
        backupFolderFd = openFolder(backupFolderName);
        if (backupFolderFd < 0 || backupName.isEmpty())
            refusal = backupFolderFd < 0 ? errno : EISDIR;
    }
    if (refusal == 0 && options.identifyWritten) {
        writtenDigest.reset(EVP_MD_CTX_new());
        if (!writtenDigest || EVP_DigestInit_ex(writtenDigest.get(), EVP_sha256(), nullptr) == 0)
            refusal = ENOMEM;
    }
    if (refusal != 0) {
        fail(refused, refusal);
        release();
        return false;
    }

    const bool regular = exists && S_ISREG(old.st_mode);
    finalMode = regular ? old.st_mode & 07777 : S_IRUSR | S_IWUSR;
    // Root replacing a user's file leaves it theirs; anyone else cannot, and need not.
    changeOwner = regular && (old.st_uid != geteuid() || old.st_gid != getegid());
    finalOwner = old.st_uid;
    finalGroup = old.st_gid;
    bool opened = openTemporary();
    if (!opened && isAccessDenied(errno) && regular &&
        options.strategy == Strategy::ReplaceOrInPlace)
        opened = openInPlace();
    if (!opened) {
        fail(Failure::Open, errno);
        release();
        return false;
    }
    return QIODevice::open(WriteOnly | Unbuffered);
}

bool AtomicFile::openTemporary()
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
    if (unnamed)
        return true;
    // The owner's only, whatever the target's mode, until it is complete.
    temporaryName = createTemporary(folderFd, fileName, temporarySlot, [this](const char* name) {
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
    if (options.expected && FileIdentity::of(oldContent, info) != *options.expected)
        return fail(Failure::Changed, 0);
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
    if (writtenDigest && size > 0 &&
        EVP_DigestUpdate(writtenDigest.get(), data, static_cast<size_t>(size)) == 0)
        return fail(Failure::Write, ENOMEM);
    while (size > 0) {
        const ssize_t count = ::write(fd, data, static_cast<size_t>(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return fail(Failure::Write, count < 0 ? errno : EIO);
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

bool AtomicFile::commit(const StreamProgress* progress)
{
    if (!isOpen())
        return false;
    if (failed != Failure::None || !flushBuffer() ||
        !(inPlace ? finishInPlace(progress) : putInPlace(progress))) {
        discard();
        return false;
    }
    release();
    return true;
}

bool AtomicFile::syncAndIdentify(const StreamProgress* progress)
{
    if (isCancelled(progress))
        return fail(Failure::Cancelled, ECANCELED);
    if (systemCalls().syncFile(fd) != 0)
        return fail(Failure::SyncFile, errno);
    // A signal during a slow sync (a USB stick, a network file system) still cancels.
    if (isCancelled(progress))
        return fail(Failure::Cancelled, ECANCELED);
    if (!writtenDigest)
        return true;
    struct stat info = {};
    QByteArray sha256(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (fstat(fd, &info) != 0)
        return fail(Failure::SyncFile, errno);
    if (EVP_DigestFinal_ex(writtenDigest.get(), reinterpret_cast<unsigned char*>(sha256.data()),
                           &length) == 0)
        return fail(Failure::SyncFile, ENOMEM);
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
    if (systemCalls().syncFolder(folderFd) != 0)
        return fail(Failure::SyncFolder, errno);
    if (keptBackup && backupFolderName != folderName &&
        systemCalls().syncFolder(backupFolderFd) != 0)
        return fail(Failure::SyncFolder, errno);
    return true;
}

bool AtomicFile::giveMode()
{
    if (changeOwner) {
        const int ignored = fchown(fd, finalOwner, finalGroup);
        Q_UNUSED(ignored)
    }
    if (systemCalls().changeMode(fd, finalMode) == 0)
        return true;
    // File systems without modes (vfat, exFAT, some FUSE drivers) refuse; their mount options
    // decide what the file's mode is.
    if (errno == ENOSYS || errno == EPERM || errno == EOPNOTSUPP)
        return true;
    return fail(Failure::Write, errno);
}

bool AtomicFile::nameTemporary()
{
    // Nothing between naming the file and renaming it: a process killed there leaves the
    // complete new file under its hidden name, for the next write's clean-up.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    temporaryName =
        createTemporary(folderFd, fileName, temporarySlot, [this, &self](const char* name) {
            return linkat(AT_FDCWD, self.constData(), folderFd, name, AT_SYMLINK_FOLLOW);
        });
    return !temporaryName.isEmpty() || fail(Failure::Replace, errno);
}

bool AtomicFile::moveNoReplace()
{
    const Failure taken = options.expected ? Failure::Changed : Failure::Exists;
    const char* from = temporaryName.constData();
    const char* to = fileName.constData();
    SystemCalls& calls = systemCalls();
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
    if (!isUnsupported(error))
        return fail(Failure::Replace, error);
    // Neither (vfat through FUSE): an empty file of our own claims the name, and the new file
    // is renamed over it. Only another program replacing that empty file in this instant
    // would go unnoticed.
    const int placeholder = openat(
        folderFd, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (placeholder < 0)
        return fail(errno == EEXIST ? taken : Failure::Replace, errno);
    ::close(placeholder);
    // Only once it is ours: a signal removes it, never a file of anyone else's.
    int placeholderSlot = rememberTemporary(folderFd, fileName);
    if (calls.renameAt(folderFd, from, folderFd, to, 0) != 0) {
        error = errno;
        unlinkat(folderFd, to, 0);
        forgetTemporary(placeholderSlot);
        return fail(Failure::Replace, error);
    }
    forgetTemporary(placeholderSlot);
    dropTemporaryName();
    return true;
}

bool AtomicFile::moveAndCheck()
{
    if (!options.backup.isEmpty() && !prepareBackup())
        return false;
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
            return fail(Failure::Changed, 0);
    }
    if (systemCalls().renameAt(folderFd, temporaryName.constData(), folderFd, fileName.constData(),
                               0) != 0)
        return fail(Failure::Replace, errno);
    dropTemporaryName();
    keepBackup();
    return true;
}

bool AtomicFile::exchangeAndCheck(bool& done)
{
    // From the swap on, the temporary name holds the replaced file: no signal, and no failure
    // on the way out, may remove it.
    forgetTemporary(temporarySlot);
    SystemCalls& calls = systemCalls();
    const QByteArray swapped = std::exchange(temporaryName, QByteArray());
    const char* to = fileName.constData();
    if (calls.renameAt(folderFd, swapped.constData(), folderFd, to, RENAME_EXCHANGE) != 0) {
        const int error = errno;
        temporaryName = swapped;
        temporarySlot = rememberTemporary(folderFd, temporaryName);
        if (error == ENOENT)
            return fail(Failure::Changed, 0); // the target is gone
        return isUnsupported(error) || fail(Failure::Replace, error);
    }
    // The check looks at exactly the file that was swapped out.
    if (FileIdentity::at(folderFd, swapped.constData()) == *options.expected) {
        unlinkat(folderFd, swapped.constData(), 0); // a backup links it already
        done = true;
        return true;
    }
    // Another program's file: back in its place. Should that fail, it stays where it is now.
    if (calls.renameAt(folderFd, swapped.constData(), folderFd, to, RENAME_EXCHANGE) != 0)
        return fail(Failure::Replace, errno);
    temporaryName = swapped;
    temporarySlot = rememberTemporary(folderFd, temporaryName);
    return fail(Failure::Changed, 0);
}

bool AtomicFile::prepareBackup()
{
    struct stat old = {};
    if (fstatat(folderFd, fileName.constData(), &old, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || fail(Failure::Replace, errno); // nothing to keep
    backupTemporary =
        createTemporary(backupFolderFd, backupName, backupSlot, [this](const char* name) {
            return systemCalls().linkAt(folderFd, fileName.constData(), backupFolderFd, name, 0);
        });
    if (!backupTemporary.isEmpty())
        return true;
    // No links on this file system (vfat, exFAT), or another one: a copy.
    if (!isUnsupported(errno) && errno != EXDEV && errno != EMLINK)
        return fail(Failure::Replace, errno);
    return copyToBackup();
}

bool AtomicFile::copyToBackup()
{
    const FileDescriptor source(openat(folderFd, fileName.constData(), O_RDONLY | O_CLOEXEC));
    struct stat info = {};
    if (source.get() < 0 || fstat(source.get(), &info) != 0)
        return fail(Failure::Replace, errno);
    int copyFd = -1;
    backupTemporary =
        createTemporary(backupFolderFd, backupName, backupSlot, [this, &copyFd](const char* name) {
            copyFd =
                openat(backupFolderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       S_IRUSR | S_IWUSR);
            return copyFd < 0 ? -1 : 0;
        });
    if (backupTemporary.isEmpty())
        return fail(Failure::Replace, errno);
    const FileDescriptor copy(copyFd);
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
                ::write(copy.get(), chunk + done, static_cast<size_t>(count - done));
            if (put > 0)
                done += put;
            else if (put == 0 || errno != EINTR)
                error = put == 0 ? EIO : errno;
        }
        if (error != 0)
            break;
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    if (error == 0 && systemCalls().changeMode(copy.get(), info.st_mode & 07777) != 0 &&
        errno != ENOSYS && errno != EPERM && errno != EOPNOTSUPP)
        error = errno;
    if (error == 0 && systemCalls().syncFile(copy.get()) != 0)
        error = errno;
    return error == 0 || fail(Failure::Replace, error);
}

void AtomicFile::keepBackup()
{
    if (backupTemporary.isEmpty())
        return;
    keptBackup = systemCalls().renameAt(backupFolderFd, backupTemporary.constData(), backupFolderFd,
                                        backupName.constData(), 0) == 0;
    // A rename onto another link of the same file leaves both names: the temporary one goes.
    dropBackupTemporary();
}

bool AtomicFile::finishInPlace(const StreamProgress* progress)
{
    touched = true;
    if (ftruncate(fd, writtenBytes) != 0)
        return fail(Failure::Write, errno);
    return syncAndIdentify(progress);
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
        setErrorString(error == 0 ? QString() : qt_error_string(error));
    }
    return false;
}

void AtomicFile::dropTemporaryName()
{
    temporaryName.clear();
    forgetTemporary(temporarySlot);
}

void AtomicFile::dropBackupTemporary()
{
    if (!backupTemporary.isEmpty())
        unlinkat(backupFolderFd, backupTemporary.constData(), 0);
    backupTemporary.clear();
    forgetTemporary(backupSlot);
}

void AtomicFile::release()
{
    dropBackupTemporary();
    dropTemporaryName();
    if (fd >= 0)
        ::close(fd);
    if (folderFd >= 0)
        ::close(folderFd);
    if (backupFolderFd >= 0)
        ::close(backupFolderFd);
    fd = -1;
    folderFd = -1;
    backupFolderFd = -1;
    unnamed = false;
    writtenDigest.reset();
    if (buffer)
        OPENSSL_cleanse(buffer.get(), bufferSize);
    buffer.reset();
    buffered = 0;
    oldContent.clear();
    if (isOpen())
        QIODevice::close();
}
