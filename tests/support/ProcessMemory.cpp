#include "ProcessMemory.h"

#include <QFile>
#include <QList>

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ProcessMemory {

namespace {

// Readable mappings that can hold data the process made: anonymous ones (heap, stacks,
// allocator arenas) and writable ones. Read-only file mappings only hold the files' bytes.
bool holdsData(const Mapping& mapping)
{
    const QByteArray& name = mapping.name;
    return mapping.mode.startsWith('r') && name != "[vvar]" && name != "[vvar_vclock]" &&
           name != "[vsyscall]" &&
           (mapping.mode.at(1) == 'w' || name.isEmpty() || name.startsWith('['));
}

int countIn(const char* data, std::size_t size, std::size_t scanned, const Needle& needle)
{
    // Matches that start in the first `scanned` bytes; the rest of `data` only completes them.
    int found = 0;
    const std::size_t head = static_cast<std::size_t>(needle.head.size());
    const std::size_t tail = static_cast<std::size_t>(needle.tail.size());
    const char* at = data;
    const char* const end = data + size;
    while (at < data + scanned) {
        at = static_cast<const char*>(
            memmem(at, static_cast<std::size_t>(end - at), needle.head.constData(), head));
        if (at == nullptr || at >= data + scanned)
            break;
        if (static_cast<std::size_t>(end - at) >= head + tail &&
            std::memcmp(at + head, needle.tail.constData(), tail) == 0)
            ++found;
        ++at;
    }
    return found;
}

} // namespace

QList<Mapping> mappings(pid_t pid)
{
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    QList<Mapping> found;
    if (!smaps.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 5 && words.at(0).contains('-') && words.at(1).size() == 4) {
            const QList<QByteArray> range = words.at(0).split('-');
            found << Mapping{range.at(0).toULongLong(nullptr, 16),
                             range.at(1).toULongLong(nullptr, 16),
                             words.at(1),
                             words.size() > 5 ? words.at(5) : QByteArray(),
                             {}};
        } else if (line.startsWith("VmFlags:") && !found.isEmpty()) {
            found.last().flags = words.mid(1);
        }
    }
    return found;
}

Needle utf8(const QString& head, const QString& tail)
{
    return {head.toUtf8(), tail.toUtf8()};
}

Needle utf16(const QString& head, const QString& tail)
{
    const auto bytes = [](const QString& text) {
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    };
    return {bytes(head), bytes(tail)};
}

int count(pid_t pid, const Needle& needle, Where where)
{
    const int memory = open(QStringLiteral("/proc/%1/mem").arg(pid).toLocal8Bit().constData(),
                            O_RDONLY | O_CLOEXEC);
    if (memory < 0)
        return -1;
    const std::size_t step = 1 << 20;
    const std::size_t overlap = static_cast<std::size_t>(needle.head.size() + needle.tail.size());
    std::vector<char> buffer(step + overlap);
    int found = 0;
    for (const Mapping& region : mappings(pid)) {
        const bool lockedUndumped = region.flags.contains("lo") && region.flags.contains("dd");
        if (!holdsData(region) || (where == Where::OutsideLockedUndumped && lockedUndumped))
            continue;
        for (quint64 at = region.start; at < region.end; at += step) {
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<quint64>(step + overlap, region.end - at));
            const ssize_t got = pread(memory, buffer.data(), wanted, static_cast<off_t>(at));
            if (got <= 0)
                break; // a guard page or a mapping that went away
            found += countIn(buffer.data(), static_cast<std::size_t>(got),
                             std::min<std::size_t>(step, static_cast<std::size_t>(got)), needle);
        }
    }
    std::memset(buffer.data(), 0, buffer.size());
    close(memory);
    return found;
}

bool openToItsUser(pid_t pid)
{
    // The "Uid:" and "Gid:" lines start with the real ids.
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    uid_t user = 0;
    gid_t group = 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() > 1 && words.at(0) == "Uid:")
            user = words.at(1).toUInt();
        else if (words.size() > 1 && words.at(0) == "Gid:")
            group = words.at(1).toUInt();
    }
    if (user == 0)
        return true; // root's memory is open to root

    const QByteArray path = QStringLiteral("/proc/%1/mem").arg(pid).toLocal8Bit();
    const pid_t probe = fork();
    if (probe == 0) {
        // Only system calls from here on.
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(user) != 0))
            _exit(2);
        _exit(open(path.constData(), O_RDONLY) >= 0 ? 0 : 1);
    }
    int result = 0;
    if (probe < 0 || waitpid(probe, &result, 0) != probe)
        return true;
    return !WIFEXITED(result) || WEXITSTATUS(result) != 1;
}

QByteArray coreFileLimits(pid_t pid)
{
    QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : limits.readAll().split('\n')) {
        if (line.startsWith("Max core file size")) {
            const QList<QByteArray> words = line.mid(18).simplified().split(' ');
            return words.size() >= 2 ? words.at(0) + ' ' + words.at(1) : QByteArray();
        }
    }
    return {};
}

} // namespace ProcessMemory
