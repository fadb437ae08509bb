#include "RecoveryFile.h"

#include "files/CryptoFile.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

const QByteArray magic = QByteArrayLiteral("Varnisk recovery file\n");
const QByteArray basePrefix = QByteArrayLiteral("base: ");
// More than any header holds: a file that has no empty line before this is not one.
constexpr int headerLimit = 512;

} // namespace

QString RecoveryFile::pathFor(const QString& documentPath)
{
    const QFileInfo document(documentPath);
    return document.absolutePath() + QStringLiteral("/.") + document.fileName() +
           QStringLiteral(".recovery");
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
    QFile file(path);
    if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile))
        return content;
    struct stat info = {};
    if (fstat(file.handle(), &info) != 0)
        return content;
    const QByteArray bytes = file.readAll();
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
    content.stream = bytes.mid(end + 2);
    content.writtenNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    content.written = QDateTime::fromMSecsSinceEpoch(content.writtenNs / 1000000);
    content.valid = true;
    return content;
}
