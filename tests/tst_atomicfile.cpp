// AtomicFile on real files: whatever fails, the target's path holds the old file or the complete
// new one, the failure is reported with its reason, and no temporary file stays behind.

#include "AtomicFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

using Failure = AtomicFile::Failure;
Q_DECLARE_METATYPE(AtomicFile::Failure)

namespace {

using TestSupport::entries;
using TestSupport::readFile;
using TestSupport::writeFile;

const QByteArray oldContent = "precious old content\n";

QByteArray newContent(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

// Writes `data` in pieces as the stream format does, then commits. Returns "committed", or the
// failure and its reason.
QByteArray writeAndCommit(AtomicFile& file, const QByteArray& data)
{
    if (!file.open(QIODevice::WriteOnly))
        return "open failed: " + file.errorString().toUtf8();
    for (int at = 0; at < data.size(); at += 4112) {
        if (file.write(data.mid(at, 4112)) < 0)
            break;
    }
    if (file.commit())
        return "committed";
    return QByteArray::number(int(file.failure())) + ": " + file.errorString().toUtf8();
}

QByteArray failedWith(Failure failure, int error)
{
    return QByteArray::number(int(failure)) + ": " + qt_error_string(error).toUtf8();
}

int failingCall(int)
{
    errno = EIO;
    return -1;
}

// Fails the first call only, so that the writing back of the old bytes can succeed.
int failingOnce(int fd)
{
    static bool failed = false;
    if (failed)
        return fsync(fd);
    failed = true;
    return failingCall(fd);
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void replaces_data();
    void replaces();
    void failedWriteKeepsTarget_data();
    void failedWriteKeepsTarget();
    void failedCall_data();
    void failedCall();
    void inPlaceInLockedFolder();

private:
    AtomicFile::SystemCalls realCalls{};
};

void TestAtomicFile::initTestCase()
{
    realCalls = AtomicFile::systemCalls();
}

void TestAtomicFile::cleanup()
{
    AtomicFile::systemCalls() = realCalls;
}

void TestAtomicFile::replaces_data()
{
    QTest::addColumn<bool>("unnamed");   // O_TMPFILE, or a named temporary file
    QTest::addColumn<QString>("before"); // what is at the target's path
    for (bool unnamed : {true, false}) {
        const char* kind = unnamed ? "unnamed" : "named";
        QTest::addRow("%s, new file", kind) << unnamed << "nothing";
        QTest::addRow("%s, existing file", kind) << unnamed << "file";
        QTest::addRow("%s, link", kind) << unnamed << "link";
        QTest::addRow("%s, dangling link", kind) << unnamed << "dangling";
    }
}

void TestAtomicFile::replaces()
{
    QFETCH(bool, unnamed);
    QFETCH(QString, before);
    AtomicFile::systemCalls().unnamedTemporaries = unnamed;
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    writeFile(dir.filePath("sub/real"), oldContent);
    const QString target = dir.filePath("target");
    const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                      QFile::WriteUser | QFile::ReadGroup;
    if (before == "file") {
        writeFile(target, oldContent);
        QVERIFY(QFile::setPermissions(target, shared));
    } else if (before != "nothing") {
        QVERIFY(QFile::link(dir.filePath(before == "link" ? "sub/real" : "sub/missing"), target));
    }

    AtomicFile file(target);
    QCOMPARE(writeAndCommit(file, newContent(200000)), QByteArray("committed"));
    QVERIFY(readFile(target) == newContent(200000));
    QVERIFY(!QFileInfo(target).isSymLink());
    // A replaced file keeps its mode; a new one, often a decrypted secret, is its owner's only.
    QCOMPARE(QFile::permissions(target), before == "file" ? shared
                                                          : QFile::ReadOwner | QFile::WriteOwner |
                                                                QFile::ReadUser | QFile::WriteUser);
    QCOMPARE(entries(dir.path()), QStringList({"sub", "target"}));
    QCOMPARE(entries(dir.filePath("sub")), QStringList({"real"}));
    QCOMPARE(readFile(dir.filePath("sub/real")), oldContent);
}

void TestAtomicFile::failedWriteKeepsTarget_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<int>("failAt"); // the first byte the file-size limit refuses
    const int size = 200000;
    for (bool unnamed : {true, false}) {
        const char* kind = unnamed ? "unnamed" : "named";
        QTest::addRow("%s, first byte", kind) << unnamed << 0;
        QTest::addRow("%s, middle", kind) << unnamed << size / 2;
        QTest::addRow("%s, last 16 KiB", kind) << unnamed << size - 8000;
        QTest::addRow("%s, last byte", kind) << unnamed << size - 1;
    }
}

void TestAtomicFile::failedWriteKeepsTarget()
{
    QFETCH(bool, unnamed);
    QFETCH(int, failAt);
    AtomicFile::systemCalls().unnamedTemporaries = unnamed;
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    writeFile(target, oldContent);
    bool ok = false;
    const QByteArray answer = TestSupport::underFileSizeLimit(
        failAt,
        [&target]() {
            AtomicFile file(target);
            return writeAndCommit(file, newContent(200000));
        },
        &ok);
    QVERIFY(ok);
    QCOMPARE(answer, failedWith(Failure::Write, EFBIG));
    QCOMPARE(readFile(target), oldContent);
    QCOMPARE(entries(dir.path()), QStringList({"target"}));
}

void TestAtomicFile::failedCall_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<QString>("call");
    QTest::addColumn<Failure>("failure");
    for (bool unnamed : {true, false}) {
        const char* kind = unnamed ? "unnamed" : "named";
        QTest::addRow("%s, file sync", kind) << unnamed << "syncFile" << Failure::SyncFile;
        QTest::addRow("%s, rename", kind) << unnamed << "renameAt" << Failure::Replace;
        QTest::addRow("%s, folder sync", kind) << unnamed << "syncFolder" << Failure::SyncFolder;
    }
}

void TestAtomicFile::failedCall()
{
    // No file system here fails these calls; the seam does, to show each failure is reported
    // and where it leaves the target: the file is synced before it replaces the target, and
    // the folder after.
    QFETCH(bool, unnamed);
    QFETCH(QString, call);
    QFETCH(Failure, failure);
    AtomicFile::SystemCalls& calls = AtomicFile::systemCalls();
    calls.unnamedTemporaries = unnamed;
    if (call == "syncFile")
        calls.syncFile = failingCall;
    else if (call == "renameAt")
        calls.renameAt = [](int, const char*, int, const char*) { return failingCall(0); };
    else
        calls.syncFolder = failingCall;
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    writeFile(target, oldContent);

    AtomicFile file(target);
    QCOMPARE(writeAndCommit(file, "new"), failedWith(failure, EIO));
    QCOMPARE(readFile(target), failure == Failure::SyncFolder ? QByteArray("new") : oldContent);
    QCOMPARE(entries(dir.path()), QStringList({"target"}));
}

void TestAtomicFile::inPlaceInLockedFolder()
{
    VARNISK_AS_NOBODY();
    QTemporaryDir dir;
    const QString target = dir.filePath("locked/target");
    QVERIFY(QDir(dir.path()).mkdir("locked"));
    writeFile(target, oldContent);
    struct stat before = {};
    QCOMPARE(stat(QFile::encodeName(target).constData(), &before), 0);
    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    QVERIFY(QFile::setPermissions(dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&]() { QFile::setPermissions(dir.filePath("locked"), open); });

    // Only the in-place strategy writes here, and the old bytes come back after any failure.
    AtomicFile refused(target);
    QCOMPARE(writeAndCommit(refused, "new"), "open failed: " + qt_error_string(EACCES).toUtf8());
    bool ok = false;
    QCOMPARE(TestSupport::underFileSizeLimit(
                 1000,
                 [&target]() {
                     AtomicFile file(target, AtomicFile::Strategy::ReplaceOrInPlace);
                     return writeAndCommit(file, newContent(5000));
                 },
                 &ok),
             failedWith(Failure::Write, EFBIG));
    QVERIFY(ok);
    QCOMPARE(readFile(target), oldContent);
    AtomicFile::systemCalls().syncFile = failingOnce;
    AtomicFile unsynced(target, AtomicFile::Strategy::ReplaceOrInPlace);
    QCOMPARE(writeAndCommit(unsynced, newContent(50)), failedWith(Failure::SyncFile, EIO));
    QCOMPARE(readFile(target), oldContent);
    AtomicFile::systemCalls().syncFile = realCalls.syncFile;

    AtomicFile inPlace(target, AtomicFile::Strategy::ReplaceOrInPlace);
    QCOMPARE(writeAndCommit(inPlace, newContent(10)), QByteArray("committed"));
    QVERIFY(inPlace.isInPlace());
    QVERIFY(readFile(target) == newContent(10));
    struct stat after = {};
    QCOMPARE(stat(QFile::encodeName(target).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(entries(dir.filePath("locked")), QStringList({"target"}));
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
