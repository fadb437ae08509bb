#pragma once

#include <QString>

// A small tmpfs mounted on a fresh temporary folder, filled up on demand: the real "No space
// left on device" at a chosen byte of a write. Mounting needs root; skipReason() tells why it
// could not be had. Unmounted and removed on destruction.
class SmallTmpfs
{
public:
    explicit SmallTmpfs(qint64 size = 1024 * 1024);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool isMounted() const { return mounted; }
    const QString& skipReason() const { return reason; }
    QString filePath(const QString& name) const;

    // Writes a filler file so that exactly `pages` pages of 4096 bytes stay free: a new file's
    // write then fails with ENOSPC at byte 4096 * pages.
    bool fillLeaving(qint64 pages);
    qint64 freePages() const;

private:
    QString folder;
    QString reason;
    bool mounted = false;
};
