#include "InPlaceWrite.h"

#include "files/FileSystemCalls.h"

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int InPlaceWrite::open(int folderFd, const QByteArray& fileName,
                       const std::optional<FileIdentity>& expected, Result& failure)
{
    touched = false;
    const int fd = openat(folderFd, fileName.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat info = {};
    int error = 0;
    if (fd < 0 || fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode) || info.st_size > std::numeric_limits<int>::max())
        error = EFBIG;
    if (error == 0) {
        oldContent.resize(static_cast<int>(info.st_size));
        for (qint64 done = 0; error == 0 && done < oldContent.size();) {
            const ssize_t count = pread(fd, oldContent.data() + done,
                                        static_cast<size_t>(oldContent.size() - done), done);
            if (count > 0)
                done += count;
            else if (count == 0 || errno != EINTR)
                error = count == 0 ? EIO : errno; // EIO: the file shrank under our feet
        }
    }
    if (error != 0) {
        failure = {Result::Outcome::CannotWrite, qt_error_string(error)};
    } else if (expected && FileIdentity::of(oldContent, info) != *expected) {
        failure = {Result::Outcome::Changed, {}};
    } else {
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

Result InPlaceWrite::truncate(int fd, qint64 length)
{
    touched = true;
    if (ftruncate(fd, length) != 0)
        return {Result::Outcome::SaveFailed, qt_error_string(errno)};
    return {};
}

Result InPlaceWrite::restore(int fd)
{
    if (!touched)
        return {};
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
    if (error == 0 && FileSystemCalls::instance().syncFile(fd) != 0)
        error = errno;
    if (error == 0)
        return {};
    return {Result::Outcome::Damaged, qt_error_string(error)};
}
