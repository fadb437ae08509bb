#pragma once

#include "encryption/Result.h"

#include <QByteArray>
#include <QString>

// Keeps the file that a write replaces as its backup, replacing an older backup in one step.
// Before the new file takes the old one's place, prepare() links the old file (or copies it, on a
// file system without links) to a temporary name beside the backup; once the new file is in
// place, keep() renames that to the backup's name. A write that fails before leaves the old
// backup alone.
class BackupStep
{
public:
    BackupStep() = default;
    ~BackupStep() { release(); }
    BackupStep(const BackupStep&) = delete;
    BackupStep& operator=(const BackupStep&) = delete;

    // Opens the folder of the backup at `path`; a failure says why.
    Result open(const QString& path);
    [[nodiscard]] bool isOpen() const { return folderFd >= 0; }
    // Keeps a link to (or copy of) `fileName` in `sourceFolderFd`, if anything is there, under a
    // temporary name beside the backup.
    Result prepare(int sourceFolderFd, const QByteArray& fileName);
    // The file is replaced: the kept one becomes the backup; a failure says why it did not.
    Result keep();
    [[nodiscard]] bool kept() const { return keptBackup; }
    // Syncs the backup's folder, unless it is `otherFolder` (which the write syncs anyway).
    Result sync(const QByteArray& otherFolder) const;
    void release();

private:
    Result copy(int sourceFolderFd, const QByteArray& fileName);
    void dropTemporary();

    QByteArray folderName;
    QByteArray name;
    QByteArray temporary; // the replaced file's link or copy, until it takes `name`
    int temporarySlot = -1;
    int folderFd = -1;
    bool keptBackup = false;
};
