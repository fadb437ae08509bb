#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>

struct stat;

// Writes a file so that its path shows either the old file or the complete new one, never a
// part. The bytes go to a temporary file in the target's folder (an unnamed one where the file
// system has them, so that not even a crash leaves it behind); commit() writes what is still
// buffered, syncs the file, renames it over the target and syncs the folder. Every write is
// checked to its last byte and the system's reason for a failure is kept in errorString().
// Whatever fails, the old file keeps its bytes and nothing temporary stays behind; only a failed
// sync of the folder comes after the new file is in place.
//
// The path itself is replaced: a symbolic link there is replaced by the new file, never written
// through. A new file is for its owner only; a replaced one keeps its mode (and, where allowed,
// its owner and group).
//
// With Strategy::ReplaceOrInPlace, a file that may be written in a folder where no file may be
// created is written in place instead: its old bytes are kept in memory and written back when
// the new ones cannot be written or synced. That is not atomic (a crash during the write can
// leave a damaged file) and reads the whole old file: for small documents only.
class AtomicFile : public QIODevice
{
    Q_OBJECT

public:
    enum class Strategy
    {
        Replace,
        ReplaceOrInPlace,
    };

    // The step that failed; errorString() says why.
    enum class Failure
    {
        None,
        Open,       // the target cannot be written, or the temporary file cannot be created
        Write,      // a write failed (full disk, size limit, I/O error)
        SyncFile,   // the new file could not be synced
        Replace,    // the new file could not be put in place of the old one
        SyncFolder, // the new file is in place, but the folder could not be synced
        Restore,    // in place: the old bytes could not be written back; the file may be damaged
    };

    // The calls that only a failing disk or file system makes fail; tests replace them to see
    // that each failure is handled. Shared by every AtomicFile of the process.
    struct SystemCalls
    {
        int (*syncFile)(int fd);
        int (*syncFolder)(int fd);
        int (*renameAt)(int fromFolder, const char* from, int toFolder, const char* to);
        bool unnamedTemporaries; // use O_TMPFILE where the file system has it
    };
    static SystemCalls& systemCalls();

    explicit AtomicFile(const QString& target, Strategy strategy = Strategy::Replace);
    // Discards what was not committed.
    ~AtomicFile() override;

    // Opens for writing (WriteOnly is the only mode). False with Failure::Open when the target
    // is a folder or special file, a read-only file, or in a folder without room for a new file.
    bool open(OpenMode mode) override;
    // Puts the new file in place. True only when every byte was written and synced and the new
    // file replaced the target; a failed write before makes it fail as well. Closes the device.
    [[nodiscard]] bool commit();
    // Drops the new bytes and leaves the target as it was. False only with Failure::Restore.
    // Closes the device.
    bool discard();
    // The same as discard(): a file is only ever put in place by commit().
    void close() override;

    Failure failure() const { return failed; }
    // The file is (or was, after commit() or discard()) written in place: Strategy::
    // ReplaceOrInPlace in a folder where no file may be created.
    bool isInPlace() const { return inPlace; }
    bool isSequential() const override { return true; }

    // The target could be replaced: not a folder or special file, not a read-only file, and in
    // a folder where files can be created.
    static bool isReplaceable(const QString& target);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool openTemporary(const struct stat* old);
    bool openInPlace();
    bool writeOut(const char* data, qint64 size);
    bool flushBuffer();
    bool putInPlace();
    bool finishInPlace();
    bool restoreOldContent();
    bool fail(Failure failure, int error);
    void release();

    const QString targetPath;
    const Strategy strategy;
    QByteArray folderName;
    QByteArray fileName;
    QByteArray temporaryName; // empty while the temporary file has no name
    int folderFd = -1;
    int fd = -1;
    bool unnamed = false;
    bool inPlace = false;
    QByteArray oldContent;          // in place: the file's bytes before the write
    std::unique_ptr<char[]> buffer; // bytes not yet handed to the system; wiped after use
    qint64 buffered = 0;
    qint64 written = 0;
    bool touched = false; // in place: the file was changed
    Failure failed = Failure::None;
};
