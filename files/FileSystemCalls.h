#pragma once

#include <sys/types.h>

// The calls of a file write that only a failing disk or an unusual file system makes fail. Tests
// replace them to see that each failure is handled; every write of the process uses the same set.
struct FileSystemCalls
{
    int (*syncFile)(int fd);
    int (*syncFolder)(int fd);
    // renameat2(2): flags 0, RENAME_NOREPLACE or RENAME_EXCHANGE.
    int (*renameAt)(int fromFolder, const char* from, int toFolder, const char* to,
                    unsigned int flags);
    int (*linkAt)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*changeMode)(int fd, mode_t mode);
    bool unnamedTemporaries; // use O_TMPFILE where the file system has it

    static FileSystemCalls& instance();

    // A file system that cannot do what was asked at all, as opposed to refusing this file.
    static bool isUnsupported(int error);
    // Sets `fd`'s mode; true as well where the file system has no modes (vfat, exFAT, some FUSE
    // drivers refuse), whose mount options decide.
    static bool giveMode(int fd, mode_t mode);
};
