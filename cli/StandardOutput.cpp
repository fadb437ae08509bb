#include "StandardOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <pthread.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool readerLeft = false;

} // namespace

int StandardOutput::writeAll(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, static_cast<std::size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EPIPE)
            readerLeft = true;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        data += written;
        size -= written;
    }
    return 0;
}

void StandardOutput::endIfReaderLeft()
{
    if (!readerLeft)
        return;
    // The program ignores SIGPIPE so that a write can report it; now it takes its normal course.
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

int StandardOutput::sync()
{
    struct stat output = {};
    if (fstat(STDOUT_FILENO, &output) != 0 || !S_ISREG(output.st_mode))
        return 0;
    return fsync(STDOUT_FILENO) == 0 ? 0 : errno;
}

qint64 StandardOutput::readData(char*, qint64)
{
    return -1;
}

qint64 StandardOutput::writeData(const char* data, qint64 size)
{
    if (const int error = writeAll(data, size)) {
        setErrorString(qt_error_string(error));
        return -1;
    }
    return size;
}
