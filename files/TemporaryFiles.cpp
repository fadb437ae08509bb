#include "TemporaryFiles.h"

#include "files/FileDescriptor.h"

#include <QList>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A fixed table that a signal handler walks without locks or allocation.
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

const QByteArray marker = ".varnisk-";

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

} // namespace

const QByteArray& TemporaryFiles::hostName()
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

QByteArray TemporaryFiles::stem(const QByteArray& fileName)
{
    auto length = std::min<qsizetype>(fileName.size(), 120);
    while (length > 0 && length < fileName.size() && (fileName.at(length) & 0xC0) == 0x80)
        --length;
    return fileName.left(length);
}

QByteArray TemporaryFiles::nameFor(const QByteArray& fileName)
{
    return '.' + stem(fileName) + marker + hostName() + '-' +
           QByteArray::number(static_cast<qint64>(getpid())) + '-' +
           QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".tmp";
}

int TemporaryFiles::remember(int folderFd, const QByteArray& name)
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

void TemporaryFiles::forget(int& slot)
{
    if (slot >= 0)
        temporaries[slot].state.store(Free);
    slot = -1;
}

void TemporaryFiles::unlinkAll() noexcept
{
    for (TemporaryEntry& entry : temporaries) {
        if (entry.state.load() == Ready)
            unlinkat(entry.folderFd, entry.name, 0);
    }
}

void TemporaryFiles::clean(int folderFd)
{
    // The claim is a shared lock, the clean-up's an exclusive one. A folder whose lock is held
    // by someone who is no writer (anyone may lock a shared folder) is only not cleaned.
    const bool alone = flock(folderFd, LOCK_EX | LOCK_NB) == 0;
    const auto claim = qScopeGuard([folderFd] { flock(folderFd, LOCK_SH | LOCK_NB); });
    if (!alone && errno == EWOULDBLOCK)
        return;
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
        if (!writerOf(name, host, pid) || host != TemporaryFiles::hostName() || pid == getpid())
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
