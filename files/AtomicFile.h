#pragma once

#include "encryption/OpenSslPointers.h"
#include "encryption/Result.h"
#include "files/BackupStep.h"
#include "files/FileIdentity.h"
#include "files/InPlaceWrite.h"
#include "files/WriteResult.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>
#include <optional>

#include <sys/types.h>

class StreamProgress;

// Writes a file so that its path shows either the old file or the complete new one, never a
// part. The bytes go to a temporary file in the target's folder (an unnamed one where the file
// system has them, so that not even a crash leaves it behind; otherwise a named one, see
// TemporaryFiles); commit() writes what is still buffered, syncs the file, renames it over the
// target and syncs the folder. Every write is checked to its last byte, and a failure keeps the
// system's reason. Whatever fails, the old file keeps its bytes and nothing temporary stays
// behind; only a failed sync of the folder comes after the new file is in place.
//
// The path itself is replaced: a symbolic link there is replaced by the new file, never written
// through. A new file is for its owner only (a named temporary file too, until commit() gives it
// the target's mode); a replaced one keeps its mode (and, where allowed, its owner and group).
//
// With Strategy::ReplaceOrInPlace, a file that may be written in a folder where no file may be
// created is written in place instead (InPlaceWrite).
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
        // that appeared while it was written (Outcome::Exists).
        bool replaceExisting = true;
        // The target must still be this file right before the new one takes its place (an
        // identity that does not exist: there must still be nothing); otherwise nothing is put
        // in place (Outcome::Changed). Where the file system can swap two names
        // (renameat2 RENAME_EXCHANGE: ext4, tmpfs, btrfs, xfs) the new file is swapped in, the
        // file swapped out is checked and swapped back on a mismatch: nothing slips through.
        // Elsewhere (NFS, FUSE, ...) the check runs right before the rename, and a replacement
        // within that instant goes unnoticed. In place, it is checked against the bytes read
        // before the first write.
        std::optional<FileIdentity> expected;
        // Where a commit that replaces an existing file keeps the replaced one (BackupStep).
        // A commit written in place keeps none.
        QString backup;
        // Keep the identity of what commit() put in place: WriteResult::written.
        bool identifyWritten = false;
        // The new file is the writer's and for its owner only, whatever the file it replaces
        // (one that someone else put at the name has no say in who may read it).
        bool ownerOnly = false;
    };

    explicit AtomicFile(const QString& target, const Options& options = {});
    // Discards what was not committed.
    ~AtomicFile() override;

    // Opens for writing (WriteOnly is the only mode). False when the target is a folder or
    // special file, a read-only file, or in a folder without room for a new file
    // (Outcome::CannotWrite), or when the options rule it out already (Exists, Changed):
    // failure() says which.
    bool open(OpenMode mode) override;
    // Puts the new file in place. A success only when every byte was written and synced and the
    // new file replaced the target; a failed write before makes it fail as well. A `progress`
    // that is cancelled before the final rename (during the sync included) discards the file
    // (Outcome::Cancelled). Closes the device.
    WriteResult commit(const StreamProgress* progress = nullptr);
    // Drops the new bytes and leaves the target as it was; fails only when old bytes written in
    // place could not be put back (Outcome::Damaged). Closes the device.
    Result discard();
    // The same as discard(): a file is only ever put in place by commit().
    void close() override;

    // The first failure so far; a success while there is none.
    [[nodiscard]] const Result& failure() const { return failed; }
    // The file is (or was, after commit() or discard()) written in place.
    [[nodiscard]] bool isInPlace() const { return inPlace; }
    bool isSequential() const override { return true; }

    // The target could be replaced: not a folder or special file, not a read-only file, and in
    // a folder where files can be created. Otherwise Outcome::CannotWrite with the reason.
    static Result checkReplaceable(const QString& target);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    Result checkTarget(bool& regular, struct stat& old);
    bool openTemporary();
    bool writeOut(const char* data, qint64 size);
    bool flushBuffer();
    bool syncAndIdentify(const StreamProgress* progress);
    bool putInPlace(const StreamProgress* progress);
    bool giveMode();
    bool nameTemporary();
    bool moveNoReplace();
    bool moveAndCheck();
    bool exchangeAndCheck(bool& done);
    void keepBackup();
    bool fail(Result::Outcome outcome, int error);
    bool fail(const Result& failure);
    void dropTemporaryName();
    void release();

    const QString targetPath;
    const Options options;
    QByteArray folderName;
    QByteArray fileName;
    QByteArray temporaryName; // empty while the temporary file has no name
    int temporarySlot = -1;   // its entry in TemporaryFiles' table
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
    BackupStep backup;
    QString backupNotKept;
    InPlaceWrite oldBytes;
    FileIdentity written;
    DigestContext writtenDigest;    // of every byte written, with Options::identifyWritten
    std::unique_ptr<char[]> buffer; // bytes not yet handed to the system; wiped after use
    qint64 buffered = 0;
    qint64 writtenBytes = 0;
    Result failed;
};
