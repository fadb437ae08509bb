// Faults of file systems that cannot be had here, for a real varnisk-cli process (LD_PRELOAD),
// chosen by environment variables:
//   SHIM_NO_TMPFILE=1     open(O_TMPFILE) fails with EOPNOTSUPP (FUSE, NFS, vfat, exFAT)
//   SHIM_FCHMOD=ERRNO     fchmod() fails with ERRNO (38: ENOSYS, vfat through FUSE)
//   SHIM_SYNC_SLEEP_MS=N  fsync() first creates the file SHIM_MARK, then takes N ms (a USB
//                         stick): the test acts while the finished file is synced.
#undef _FORTIFY_SOURCE
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The next definition of `name`: the C library's.
template <typename Function> Function real(Function& cached, const char* name)
{
    if (cached == nullptr)
        cached = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    return cached;
}

int fault(const char* name)
{
    const char* value = getenv(name);
    return value == nullptr ? 0 : atoi(value);
}

int refused(int error)
{
    errno = error;
    return -1;
}

} // namespace

extern "C" {

int openat(int folder, const char* path, int flags, ...)
{
    static int (*next)(int, const char*, int, ...);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | __O_TMPFILE)) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if ((flags & O_TMPFILE) == O_TMPFILE && fault("SHIM_NO_TMPFILE"))
        return refused(EOPNOTSUPP);
    return real(next, "openat")(folder, path, flags, mode);
}

int fchmod(int fd, mode_t mode)
{
    static int (*next)(int, mode_t);
    if (fault("SHIM_FCHMOD"))
        return refused(fault("SHIM_FCHMOD"));
    return real(next, "fchmod")(fd, mode);
}

int fsync(int fd)
{
    static int (*next)(int);
    const int milliseconds = fault("SHIM_SYNC_SLEEP_MS");
    if (milliseconds > 0 && getenv("SHIM_MARK") != nullptr) {
        close(open(getenv("SHIM_MARK"), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        /* Signals do not shorten it: a sync is not interrupted either. */
        struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    return real(next, "fsync")(fd);
}

} // extern "C"
