#include "FileSystemCalls.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileSystemCalls& FileSystemCalls::instance()
{
    static FileSystemCalls calls{::fsync, ::fsync, ::renameat2, ::linkat, ::fchmod, true};
    return calls;
}

bool FileSystemCalls::isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

bool FileSystemCalls::giveMode(int fd, mode_t mode)
{
    return instance().changeMode(fd, mode) == 0 || errno == ENOSYS || errno == EPERM ||
           errno == EOPNOTSUPP;
}
