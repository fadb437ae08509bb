#pragma once

#include <QByteArray>
#include <QString>

struct stat;

// What a file at a path is: its device and inode, its size, its modification time in
// nanoseconds and the SHA-256 of its bytes. Two identities are equal only when all of these
// are; the digest tells apart a replacement of the same size within the same second, and on
// file systems whose times are coarse (FAT keeps 2-second steps). A default-constructed
// identity is that of a path where nothing is.
class FileIdentity
{
public:
    FileIdentity() = default;

    // The identity of `content`, read whole from a descriptor whose fstat() gave `info`: read
    // a file once into memory, take its identity and decrypt from the same bytes.
    static FileIdentity of(const QByteArray& content, const struct stat& info);
    // The file that `path` names now (links followed, as reading them does); nothing there, or
    // a path that cannot be looked at, gives an identity that does not exist. A file that
    // cannot be read (or is no regular file) has no digest and equals no identity at all.
    static FileIdentity ofPath(const QString& path);
    // The same, for `name` in the open folder `folderFd` (AT_FDCWD for the current one).
    static FileIdentity at(int folderFd, const char* name);
    // From the parts: `sha256` is the digest of the bytes the file holds.
    static FileIdentity of(const struct stat& info, const QByteArray& sha256);

    bool exists() const { return present; }
    quint64 device() const { return dev; }
    quint64 inode() const { return ino; }
    qint64 size() const { return bytes; }
    qint64 modifiedNs() const { return mtimeNs; }
    const QByteArray& sha256() const { return digest; }

    bool operator==(const FileIdentity& other) const;
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }

private:
    bool present = false;
    quint64 dev = 0;
    quint64 ino = 0;
    qint64 bytes = 0;
    qint64 mtimeNs = 0;
    QByteArray digest;
};
