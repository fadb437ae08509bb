#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>

// Looks into another process's memory through /proc/PID/mem, as a debugger or a core dump
// would. Once a process made itself non-dumpable only root may do that.
namespace ProcessMemory {

// A text to look for, given in two halves that the test never joins: no copy of the whole text
// is in the test's own memory, nor in a child forked from it.
struct Needle
{
    QByteArray head;
    QByteArray tail;
};
Needle utf8(const QString& head, const QString& tail);
Needle utf16(const QString& head, const QString& tail); // little-endian, as QString holds it

enum class Where
{
    Anywhere,
    OutsideLockedUndumped, // skipping memory that is locked and left out of core dumps
};

// One mapping of /proc/PID/smaps: its range, mode ("rw-p"), file (empty: anonymous) and VmFlags
// ("lo": locked, "dd": left out of core dumps).
struct Mapping
{
    quint64 start = 0;
    quint64 end = 0;
    QByteArray mode;
    QByteArray name;
    QList<QByteArray> flags;
};
QList<Mapping> mappings(pid_t pid);

// How often the needle occurs in the process's anonymous and writable memory; -1 when that
// memory cannot be read.
int count(pid_t pid, const Needle& needle, Where where = Where::Anywhere);

// Whether another process of the same user could read the process's memory: a child of the
// test, running as the process's user (root's children switch to it, so the process must not
// run as root), opens /proc/PID/mem.
bool openToItsUser(pid_t pid);

// The soft and hard core file limits from /proc/PID/limits, e.g. "0 unlimited".
QByteArray coreFileLimits(pid_t pid);

} // namespace ProcessMemory
