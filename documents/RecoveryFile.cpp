#include "RecoveryFile.h"

#include "files/FileDescriptor.h"
#include "files/TemporaryFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray magic = QByteArrayLiteral("Varnisk recovery file\n");
const QByteArray basePrefix = QByteArrayLiteral("base: ");
const QString suffix = QStringLiteral(".recovery");
// More than any header holds: a file that has no empty line before this is not one.
constexpr int headerLimit = 512;
// Larger than any document the editor can hold: a file this large is not read at all.
constexpr qint64 sizeLimit = qint64(256) << 20;

QByteArray randomPart()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 36);
}

// ".NAME." of the document's recovery files, NAME cut as temporary names cut it.
QString prefixOf(const QFileInfo& document)
{
    return QLatin1Char('.') +
           QFile::decodeName(TemporaryFiles::stem(QFile::encodeName(document.fileName()))) +
           QLatin1Char('.');
}

} // namespace

QString RecoveryFile::pathFor(const QString& documentPath, int attempt)
{
    static const QByteArray processPart = randomPart();
    const QFileInfo document(documentPath);
    const QByteArray id = TemporaryFiles::hostName() + '-' + QByteArray::number(getpid()) + '-' +
                          (attempt == 0 ? processPart : randomPart());
    return document.absolutePath() + QLatin1Char('/') + prefixOf(document) +
           QString::fromLatin1(id) + suffix;
}

QList<RecoveryFile::Content> RecoveryFile::allFor(const QString& documentPath)
{
    const QFileInfo document(documentPath);
    const QString prefix = prefixOf(document);
    // HOST-PID-RANDOM, as pathFor() writes it.
    static const QRegularExpression id(QStringLiteral("^[A-Za-z0-9._-]+-[0-9]+-[0-9a-z]+$"));
    const QString earlier = QLatin1Char('.') + document.fileName() + suffix;
    QList<Content> found;
    const QDir folder = document.absoluteDir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString middle = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (name == earlier ||
            (name.startsWith(prefix) && name.endsWith(suffix) && id.match(middle).hasMatch())) {
            Content content = read(folder.filePath(name));
            if (content.valid)
                found << content;
        }
    }
    std::sort(found.begin(), found.end(), [](const Content& first, const Content& second) {
        return first.writtenNs > second.writtenNs;
    });
    return found;
}

void RecoveryFile::remove(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid())
        unlink(name.constData());
}

QByteArray RecoveryFile::compose(const FileIdentity& base, const QByteArray& stream)
{
    QByteArray header = magic + basePrefix;
    if (base.exists()) {
        header += QByteArray::number(base.device()) + ' ' + QByteArray::number(base.inode()) + ' ' +
                  QByteArray::number(base.size()) + ' ' + QByteArray::number(base.modifiedNs()) +
                  ' ' + base.sha256().toHex();
    } else {
        header += "none";
    }
    return header + "\n\n" + stream;
}

RecoveryFile::Content RecoveryFile::read(const QString& path)
{
    Content content;
    // Never through a link, never blocked by a FIFO, never anyone else's: a file planted in a
    // shared folder is not the user's unsaved work.
    FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != geteuid() || info.st_size > sizeLimit)
        return content;
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return content;
    const QByteArray bytes = file.read(sizeLimit + 1);
    if (bytes.size() > sizeLimit)
        return content;
    const int end = bytes.indexOf("\n\n");
    if (!bytes.startsWith(magic) || end < 0 || end > headerLimit)
        return content;
    const QByteArray baseLine = bytes.mid(magic.size(), end - magic.size());
    if (!baseLine.startsWith(basePrefix))
        return content;
    const QList<QByteArray> fields = baseLine.mid(basePrefix.size()).split(' ');
    if (fields.size() == 5) {
        bool ok[4] = {};
        struct stat base = {};
        base.st_dev = fields[0].toULongLong(&ok[0]);
        base.st_ino = fields[1].toULongLong(&ok[1]);
        base.st_size = fields[2].toLongLong(&ok[2]);
        const qint64 modifiedNs = fields[3].toLongLong(&ok[3]);
        base.st_mtim.tv_sec = modifiedNs / 1000000000;
        base.st_mtim.tv_nsec = modifiedNs % 1000000000;
        const QByteArray sha256 = QByteArray::fromHex(fields[4]);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || sha256.size() != 32)
            return content;
        content.base = FileIdentity::of(base, sha256);
    } else if (fields != QList<QByteArray>{"none"}) {
        return content;
    }
    content.path = path;
    content.stream = bytes.mid(end + 2);
    content.writtenNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    content.written = QDateTime::fromMSecsSinceEpoch(content.writtenNs / 1000000);
    content.valid = true;
    return content;
}
