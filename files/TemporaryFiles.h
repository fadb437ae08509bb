#pragma once

#include <QByteArray>

#include <cerrno>

// The named temporary files of this process's writes: how they are named, the table through which
// a signal handler removes them, and the clean-up of those that a killed writer left behind.
//
// A temporary file is called ".NAME.varnisk-HOST-PID-RANDOM.tmp" and locked (flock) by its
// writer while it lives, and the writer claims the folder as well. A crash or SIGKILL can leave
// one behind; clean() removes those of the same user and host whose writer is gone. Backup and
// recovery files never look like one.
class TemporaryFiles
{
public:
    // Creates a fresh temporary name for `fileName` in the folder `folderFd` with `create` (which
    // returns 0 once the name exists, or -1 with errno set), trying new names while one is
    // taken. The name is in the table from before it exists until forget(slot). Returns it, or
    // an empty name with errno set.
    template <typename Create>
    static QByteArray create(int folderFd, const QByteArray& fileName, int& slot, Create create);

    // Puts `name` in the folder into the table; the slot, or -1 when the table is full (the
    // clean-up of the next write then removes it instead).
    static int remember(int folderFd, const QByteArray& name);
    static void forget(int& slot);
    // Removes every named temporary file in the table. For a process that ends now:
    // async-signal-safe (unlinkat() on names prepared beforehand), for signal handlers.
    static void unlinkAll() noexcept;

    // Claims the folder for a writer that will put temporary files there, until `folderFd` is
    // closed (a shared flock on it), and first removes the temporary files that writers of this
    // user and machine left there and that are gone, if no writer claims the folder now. A writer
    // in another process namespace (Flatpak) looks gone from here, but its claim still tells.
    static void clean(int folderFd);

    // This machine's name as names of files beside a document carry it (a folder may be shared
    // over the network, and a process number means something only on its machine).
    static const QByteArray& hostName();
    // `fileName` cut (never within a UTF-8 character) so that a name built on it fits any file
    // system's limit.
    static QByteArray stem(const QByteArray& fileName);

private:
    static QByteArray nameFor(const QByteArray& fileName);
};

template <typename Create>
QByteArray TemporaryFiles::create(int folderFd, const QByteArray& fileName, int& slot,
                                  Create create)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = nameFor(fileName);
        // Before it exists, so that no moment is left in which a signal would miss it.
        slot = remember(folderFd, name);
        if (create(name.constData()) == 0)
            return name;
        const int error = errno;
        forget(slot);
        errno = error;
        if (error != EEXIST)
            return {};
    }
    return {};
}
