#pragma once

#include "FileIdentity.h"
#include "OpenSslPointers.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>
#include <optional>

#include <sys/types.h>

class StreamProgress;

// Writes a file so that its path shows either the old file or the complete new one, never a
// part. The bytes go to a temporary file in the target's folder (an unnamed one where the file
// system has them, so that not even a crash leaves it behind); commit() writes what is still
// buffered, syncs the file, renames it over the target and syncs the folder. Every write is
// checked to its last byte and the system's reason for a failure is kept in errorString().
// Whatever fails, the old file keeps its bytes and nothing temporary stays behind; only a failed
// sync of the folder comes after the new file is in place.
//
// A named temporary file is called ".NAME.varnisk-HOST-PID-RANDOM.tmp", is its owner's only
// until commit() gives it the target's mode, and is locked (flock) by its writer while it
// lives. A crash or SIGKILL can leave one behind; the next AtomicFile opened in that folder
// removes those of the same user and host whose writer is gone. unlinkTemporaries() lets a
// signal handler remove the ones of this process.
//
// The path itself is replaced: a symbolic link there is replaced by the new file, never written
// through. A new file is for its owner only; a replaced one keeps its mode (and, where allowed,
// its owner and group).
//
// With Strategy::ReplaceOrInPlace, a file that may be written in a folder where no file may be
// created is written in place instead: its old bytes are kept in memory and written back when
// the new ones cannot be written or synced. That is not atomic (a crash during the write can
// leave a damaged file), reads the whole old file, and keeps no backup: for small documents
// only.
class AtomicFile : public QIODevice
{
    Q_OBJECT

public:
    enum class Strategy
    {
        Replace,
        ReplaceOrInPlace,
    };

    // What a write asks for beyond putting the bytes in place.
    struct Options
    {
        // Implicit, so that a Strategy alone still reads as the options.
        Options(Strategy how = Strategy::Replace) : strategy(how) {}

        Strategy strategy;
        // False: the target must not exist when the new file is put in place, not even one
        // that appeared while it was written (Failure::Exists).
        bool replaceExisting = true;
        // The target must still be this file right before the new one takes its place (an
        // identity that does not exist: there must still be nothing); otherwise nothing is put
        // in place (Failure::Changed). Where the file system can swap two names
        // (renameat2 RENAME_EXCHANGE: ext4, tmpfs, btrfs, xfs) the new file is swapped in, the
        // file swapped out is checked and swapped back on a mismatch: nothing slips through.
        // Elsewhere (NFS, FUSE, ...) the check runs right before the rename, and a replacement
        // within that instant goes unnoticed. In place, it is checked against the bytes read
        // before the first write.
        std::optional<FileIdentity> expected;
        // Where a commit that replaces an existing file keeps the replaced one (a hard link to
        // it, or a copy where the file system has no links), replacing an older backup there
        // in one step. A failed commit leaves the old backup alone; so does one that replaces
        // nothing, and one written in place.
        QString backup;
        // Keep the identity of what commit() put in place: writtenIdentity().
        bool identifyWritten = false;
    };

    // The step that failed; errorString() says why.
    enum class Failure
    {
        None,
        Open,       // the target cannot be written, or the temporary file cannot be created
        Write,      // a write failed (full disk, size limit, I/O error)
        SyncFile,   // the new file could not be synced
        Replace,    // the new file (or the backup) could not be put in place
        SyncFolder, // the new file is in place, but the folder could not be synced
        Restore,    // in place: the old bytes could not be written back; the file may be damaged
        Changed,    // the target is no longer Options::expected; nothing was put in place
        Exists,     // the target exists although Options::replaceExisting is false
        Cancelled,  // the StreamProgress given to commit() was cancelled before the rename
    };

    // The calls that only a failing disk or an unusual file system makes fail; tests replace
    // them to see that each failure is handled. Shared by every AtomicFile of the process.
    struct SystemCalls
    {
        int (*syncFile)(int fd);
        int (*syncFolder)(int fd);
        // renameat2(2): flags 0, RENAME_NOREPLACE or RENAME_EXCHANGE.
        int (*renameAt)(int fromFolder, const char* from, int toFolder, const char* to,
                        unsigned int flags);
        int (*linkAt)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
        int (*changeMode)(int fd, mode_t mode);
        bool unnamedTemporaries; // use O_TMPFILE where the file system has it
    };
    static SystemCalls& systemCalls();

    explicit AtomicFile(const QString& target, const Options& options = {});
    // Discards what was not committed.
    ~AtomicFile() override;

    // Opens for writing (WriteOnly is the only mode). False with Failure::Open when the target
    // is a folder or special file, a read-only file, or in a folder without room for a new file;
    // with Failure::Exists or Failure::Changed when the options rule the target out already.
    bool open(OpenMode mode) override;
    // Puts the new file in place. True only when every byte was written and synced and the new
    // file replaced the target; a failed write before makes it fail as well. A `progress` that
    // is cancelled before the final rename (during the sync included) discards the file with
    // Failure::Cancelled. Closes the device.
    [[nodiscard]] bool commit(const StreamProgress* progress = nullptr);
    // Drops the new bytes and leaves the target as it was. False only with Failure::Restore.
    // Closes the device.
    bool discard();
    // The same as discard(): a file is only ever put in place by commit().
    void close() override;

    Failure failure() const { return failed; }
    // The file is (or was, after commit() or discard()) written in place: Strategy::
    // ReplaceOrInPlace in a folder where no file may be created.
    bool isInPlace() const { return inPlace; }
    // After a successful commit: the replaced file was kept at Options::backup.
    bool backupKept() const { return keptBackup; }
    // After a successful commit with Options::identifyWritten: the file now at the target's
    // path, with the digest of the bytes written.
    const FileIdentity& writtenIdentity() const { return written; }
    bool isSequential() const override { return true; }

    // The target could be replaced: not a folder or special file, not a read-only file, and in
    // a folder where files can be created. Otherwise `reason`, if given, is the errno why.
    static bool isReplaceable(const QString& target, int* reason = nullptr);

    // Removes the named temporary files of the writes in progress in this process. Only for a
    // process that ends now: async-signal-safe (unlinkat() on names prepared beforehand), for
    // signal handlers.
    static void unlinkTemporaries() noexcept;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool openTemporary();
    bool openInPlace();
    bool writeOut(const char* data, qint64 size);
    bool flushBuffer();
    bool syncAndIdentify(const StreamProgress* progress);
    bool putInPlace(const StreamProgress* progress);
    bool giveMode();
    bool nameTemporary();
    bool prepareBackup();
    bool copyToBackup();
    bool moveNoReplace();
    bool moveAndCheck();
    bool exchangeAndCheck(bool& done);
    void keepBackup();
    bool finishInPlace(const StreamProgress* progress);
    bool restoreOldContent();
    bool fail(Failure failure, int error);
    void dropTemporaryName();
    void dropBackupTemporary();
    void release();

    const QString targetPath;
    const Options options;
    QByteArray folderName;
    QByteArray fileName;
    QByteArray temporaryName; // empty while the temporary file has no name
    int temporarySlot = -1;   // its entry for unlinkTemporaries()
    int folderFd = -1;
    int fd = -1;
    bool unnamed = false;
    bool inPlace = false;
    // The mode (and owner) the new file gets at the end: the replaced file's, or the owner's
    // only for a new one.
    mode_t finalMode = 0600;
    uid_t finalOwner = 0;
    gid_t finalGroup = 0;
    bool changeOwner = false;
    QByteArray backupFolderName;
    QByteArray backupName;
    QByteArray backupTemporary; // the replaced file's link or copy, until it takes backupName
    int backupSlot = -1;
    int backupFolderFd = -1;
    bool keptBackup = false;
    FileIdentity written;
    DigestContext writtenDigest;    // of every byte written, with Options::identifyWritten
    QByteArray oldContent;          // in place: the file's bytes before the write
    std::unique_ptr<char[]> buffer; // bytes not yet handed to the system; wiped after use
    qint64 buffered = 0;
    qint64 writtenBytes = 0;
    bool touched = false; // in place: the file was changed
    Failure failed = Failure::None;
};
