#include "FileIdentity.h"

#include "FileDescriptor.h"
#include "encryption/OpenSslPointers.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The digest of everything `fd` reads from its start; empty when it cannot be read to the end.
QByteArray digestOf(int fd)
{
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 0)
        return {};
    // The file may be a decrypted one: its bytes do not stay behind in this buffer.
    unsigned char chunk[64 * 1024];
    bool ok = true;
    for (off_t at = 0; ok;) {
        const ssize_t count = pread(fd, chunk, sizeof chunk, at);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            ok = count == 0;
            break;
        }
        ok = EVP_DigestUpdate(context.get(), chunk, static_cast<std::size_t>(count)) != 0;
        at += count;
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    QByteArray sha256(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(sha256.data()),
                                  &length) == 0)
        return {};
    sha256.truncate(static_cast<int>(length));
    return sha256;
}

} // namespace

FileIdentity FileIdentity::of(const struct stat& info, const QByteArray& sha256)
{
    FileIdentity identity;
    identity.present = true;
    identity.dev = static_cast<quint64>(info.st_dev);
    identity.ino = static_cast<quint64>(info.st_ino);
    identity.bytes = static_cast<qint64>(info.st_size);
    identity.mtimeNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    identity.digest = sha256;
    return identity;
}

FileIdentity FileIdentity::of(const QByteArray& content, const struct stat& info)
{
    QByteArray sha256(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (EVP_Digest(content.constData(), static_cast<std::size_t>(content.size()),
                   reinterpret_cast<unsigned char*>(sha256.data()), &length, EVP_sha256(),
                   nullptr) == 0)
        return of(info, QByteArray());
    sha256.truncate(static_cast<int>(length));
    return of(info, sha256);
}

FileIdentity FileIdentity::ofPath(const QString& path)
{
    return at(AT_FDCWD, QFile::encodeName(path).constData());
}

FileIdentity FileIdentity::at(int folderFd, const char* name)
{
    struct stat info = {};
    if (fstatat(folderFd, name, &info, 0) != 0)
        return {};
    // Not waiting for a FIFO's writer; only a regular file has a digest.
    const FileDescriptor fd(openat(folderFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return of(info, QByteArray());
    return of(info, digestOf(fd.get()));
}

bool FileIdentity::operator==(const FileIdentity& other) const
{
    if (!present || !other.present)
        return present == other.present;
    return dev == other.dev && ino == other.ino && bytes == other.bytes &&
           mtimeNs == other.mtimeNs && !digest.isEmpty() && digest == other.digest;
}
