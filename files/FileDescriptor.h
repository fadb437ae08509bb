#pragma once

#include <unistd.h>

// A file descriptor that closes itself; -1 holds none.
class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&&) = delete;

    int get() const { return fd; }
    // Hands the descriptor to a new owner.
    [[nodiscard]] int release()
    {
        const int released = fd;
        fd = -1;
        return released;
    }

private:
    int fd;
};
