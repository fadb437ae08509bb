#include "SmallTmpfs.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
constexpr qint64 pageSize = 4096;
}

SmallTmpfs::SmallTmpfs(qint64 size)
{
    if (geteuid() != 0) {
        reason = QStringLiteral("mounting a small tmpfs for a full disk needs root");
        return;
    }
    const QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/varnisk-full-XXXXXX";
    QByteArray path = pattern;
    if (mkdtemp(path.data()) == nullptr) {
        reason = QStringLiteral("no temporary folder: ") + QString::fromLocal8Bit(strerror(errno));
        return;
    }
    folder = QFile::decodeName(path);
    const QByteArray options = "size=" + QByteArray::number(size) + ",mode=0755";
    if (mount("varnisk-test-tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.constData()) != 0) {
        reason = QStringLiteral("cannot mount a tmpfs: ") + QString::fromLocal8Bit(strerror(errno));
        rmdir(path.constData());
        folder.clear();
        return;
    }
    mounted = true;
}

SmallTmpfs::~SmallTmpfs()
{
    if (folder.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(folder);
    if (mounted)
        umount2(path.constData(), MNT_DETACH);
    rmdir(path.constData());
}

QString SmallTmpfs::filePath(const QString& name) const
{
    return folder + QLatin1Char('/') + name;
}

qint64 SmallTmpfs::freePages() const
{
    struct statvfs info = {};
    if (statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return -1;
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize) / pageSize;
}

bool SmallTmpfs::fillLeaving(qint64 pages)
{
    const qint64 fill = (freePages() - pages) * pageSize;
    if (!mounted || fill < 0)
        return false;
    const int fd = open(QFile::encodeName(filePath(QStringLiteral("filler"))).constData(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    static const char page[pageSize] = {'f'};
    bool ok = true;
    for (qint64 done = 0; ok && done < fill; done += pageSize)
        ok = write(fd, page, pageSize) == pageSize;
    close(fd);
    return ok && freePages() == pages;
}
