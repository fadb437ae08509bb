// AtomicFile on real files: whatever fails, the target's path holds the old file or the complete
// new one, the failure is reported with its reason, and no temporary file stays behind.

#include "TestSupport.h"
#include "encryption/StreamProgress.h"
#include "files/AtomicFile.h"
#include "files/FileDescriptor.h"
#include "files/FileSystemCalls.h"
#include "files/TemporaryFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Outcome = Result::Outcome;
Q_DECLARE_METATYPE(Result::Outcome)

namespace {

using TestSupport::entries;
using TestSupport::readFile;
using TestSupport::writeFile;

const QByteArray oldContent = "precious old content\n";
const QFile::Permissions ownerOnly =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

const QByteArray fresh = TestSupport::randomBytes(200000);

// Writes `data` in pieces as the stream format does, then commits. Returns "committed", or the
// failure and its reason.
QByteArray writeAndCommit(AtomicFile& file, const QByteArray& data,
                          const StreamProgress* progress = nullptr)
{
    if (!file.isOpen() && !file.open(QIODevice::WriteOnly))
        return "open failed: " + file.errorString().toUtf8();
    for (int at = 0; at < data.size(); at += 4112) {
        if (file.write(data.mid(at, 4112)) < 0)
            break;
    }
    const WriteResult result = file.commit(progress);
    if (result.ok())
        return "committed";
    return QByteArray::number(int(result.outcome)) + ": " + result.detail.toUtf8();
}

QByteArray failedWith(Outcome outcome, int error)
{
    return QByteArray::number(int(outcome)) + ": " +
           (error == 0 ? QByteArray() : qt_error_string(error).toUtf8());
}

int failWith(int error)
{
    errno = error;
    return -1;
}

int failingCall(int)
{
    return failWith(EIO);
}

// A signal that comes while the file is synced: the sync itself succeeds.
StreamProgress* signalled = nullptr;
int cancellingSync(int fd)
{
    signalled->cancel();
    return fsync(fd);
}

// Rewrites the target in place with other bytes of the same size and the same modification
// time: only the digest can tell.
void sameSizeAndTime(const QString& target)
{
    struct stat before = {};
    QCOMPARE(stat(QFile::encodeName(target).constData(), &before), 0);
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadWrite) &&
            file.write(QByteArray(oldContent).replace('o', 'O')));
    file.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(target).constData(), times, 0), 0);
}

// renameat2() of a file system that refuses `refusedFlags` with `refusal` (EINVAL: FUSE, NFS;
// EPERM: vfat through FUSE), where another program changes `changedTarget` just as the new file
// is swapped in; with `swapsLeft`, only that many swaps succeed; with `signalAtRename`, a
// signal ends the program just after a plain rename.
unsigned refusedFlags = 0;
int refusal = 0;
QString changedTarget;
int swapsLeft = -1;
bool signalAtRename = false;
int renameSeam(int from, const char* old, int to, const char* name, unsigned flags)
{
    if ((flags & RENAME_EXCHANGE) && !changedTarget.isEmpty())
        sameSizeAndTime(std::exchange(changedTarget, QString()));
    if ((flags & RENAME_EXCHANGE) && swapsLeft >= 0 && swapsLeft-- == 0)
        return failWith(EIO);
    const int renamed =
        (flags & refusedFlags) ? failWith(refusal) : renameat2(from, old, to, name, flags);
    if (flags == 0 && signalAtRename)
        TemporaryFiles::unlinkAll();
    return renamed;
}

// Fails the first call only, so that the writing back of the old bytes can succeed.
int failingOnce(int fd)
{
    static bool failed = false;
    if (failed)
        return fsync(fd);
    failed = true;
    return failWith(EIO);
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
    void expectedTarget_data();
    void expectedTarget();
    void staleTemporaries_data();
    void staleTemporaries();

private:
    FileSystemCalls realCalls{};
};

void TestAtomicFile::initTestCase()
{
    realCalls = FileSystemCalls::instance();
}

void TestAtomicFile::cleanup()
{
    FileSystemCalls::instance() = realCalls;
}

void TestAtomicFile::replaces_data()
{
    QTest::addColumn<bool>("unnamed");   // O_TMPFILE, or a named temporary file
    QTest::addColumn<QString>("before"); // what is at the target's path
    QTest::addColumn<bool>("modeless");  // fchmod() fails with ENOSYS, as on vfat through FUSE
    for (bool unnamed : {true, false}) {
        const char* kind = unnamed ? "unnamed" : "named";
        QTest::addRow("%s, new file", kind) << unnamed << "nothing" << false;
        QTest::addRow("%s, existing file", kind) << unnamed << "file" << false;
        QTest::addRow("%s, link", kind) << unnamed << "link" << false;
        QTest::addRow("%s, dangling link", kind) << unnamed << "dangling" << false;
    }
    QTest::newRow("named, existing file, no modes") << false << "file" << true;
}

void TestAtomicFile::replaces()
{
    QFETCH(bool, unnamed);
    QFETCH(QString, before);
    QFETCH(bool, modeless);
    FileSystemCalls::instance().unnamedTemporaries = unnamed;
    if (modeless)
        FileSystemCalls::instance().changeMode = [](int, mode_t) { return failWith(ENOSYS); };
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

    AtomicFile::Options options;
    options.identifyWritten = true;
    AtomicFile file(target, options);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(fresh) == 200000);
    // Until it is complete, a named temporary file is its owner's only, whatever the target's.
    for (const QString& name : entries(dir.path())) {
        if (name.startsWith(".target.varnisk-"))
            QCOMPARE(QFileInfo(dir.filePath(name)).permissions(), ownerOnly);
    }
    const WriteResult committed = file.commit();
    QVERIFY(committed.ok());
    QVERIFY(readFile(target) == fresh);
    QVERIFY(!QFileInfo(target).isSymLink());
    QVERIFY(committed.written == FileIdentity::ofPath(target));
    // A replaced file keeps its mode; a new one, often a decrypted secret, is its owner's only.
    QCOMPARE(QFile::permissions(target), before == "file" && !modeless ? shared : ownerOnly);
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
    FileSystemCalls::instance().unnamedTemporaries = unnamed;
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    writeFile(target, oldContent);
    bool ok = false;
    const QByteArray answer = TestSupport::underFileSizeLimit(
        failAt,
        [&target]() {
            AtomicFile file(target);
            return writeAndCommit(file, fresh);
        },
        &ok);
    QVERIFY(ok);
    QCOMPARE(answer, failedWith(Outcome::SaveFailed, EFBIG));
    QCOMPARE(readFile(target), oldContent);
    QCOMPARE(entries(dir.path()), QStringList({"target"}));
}

void TestAtomicFile::failedCall_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<QString>("call");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("reason"); // each seam fails with its own errno, which tells the step
    for (bool unnamed : {true, false}) {
        const char* kind = unnamed ? "unnamed" : "named";
        QTest::addRow("%s, file sync", kind) << unnamed << "syncFile" << Outcome::SaveFailed << EIO;
        QTest::addRow("%s, rename", kind) << unnamed << "renameAt" << Outcome::SaveFailed << EROFS;
        QTest::addRow("%s, folder sync", kind)
            << unnamed << "syncFolder" << Outcome::NotSynced << EIO;
        QTest::addRow("%s, cancelled during the sync", kind)
            << unnamed << "cancel" << Outcome::Cancelled << 0;
    }
}

void TestAtomicFile::failedCall()
{
    // No file system here fails these calls; the seam does, to show each failure is reported
    // and where it leaves the target: the file is synced before it replaces the target, and
    // the folder after.
    QFETCH(bool, unnamed);
    QFETCH(QString, call);
    QFETCH(Outcome, outcome);
    QFETCH(int, reason);
    FileSystemCalls& calls = FileSystemCalls::instance();
    calls.unnamedTemporaries = unnamed;
    StreamProgress progress;
    signalled = &progress;
    if (call == "syncFile")
        calls.syncFile = failingCall;
    else if (call == "cancel")
        calls.syncFile = cancellingSync;
    else if (call == "renameAt")
        calls.renameAt = [](int, const char*, int, const char*, unsigned) {
            return failWith(EROFS);
        };
    else
        calls.syncFolder = failingCall;
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    writeFile(target, oldContent);

    AtomicFile file(target);
    QCOMPARE(writeAndCommit(file, "new", &progress), failedWith(outcome, reason));
    QCOMPARE(readFile(target), outcome == Outcome::NotSynced ? QByteArray("new") : oldContent);
    QCOMPARE(entries(dir.path()), QStringList({"target"}));
}

void TestAtomicFile::inPlaceInLockedFolder()
{
    const TestSupport::PermissionsApply permissions; // root's too
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
                     return writeAndCommit(file, fresh.left(5000));
                 },
                 &ok),
             failedWith(Outcome::SaveFailed, EFBIG));
    QVERIFY(ok);
    QCOMPARE(readFile(target), oldContent);
    FileSystemCalls::instance().syncFile = failingOnce;
    AtomicFile unsynced(target, AtomicFile::Strategy::ReplaceOrInPlace);
    QCOMPARE(writeAndCommit(unsynced, fresh.left(50)), failedWith(Outcome::SaveFailed, EIO));
    QCOMPARE(readFile(target), oldContent);
    FileSystemCalls::instance().syncFile = realCalls.syncFile;

    AtomicFile inPlace(target, AtomicFile::Strategy::ReplaceOrInPlace);
    QCOMPARE(writeAndCommit(inPlace, fresh.left(10)), QByteArray("committed"));
    QVERIFY(inPlace.isInPlace());
    QVERIFY(readFile(target) == fresh.left(10));
    struct stat after = {};
    QCOMPARE(stat(QFile::encodeName(target).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(entries(dir.filePath("locked")), QStringList({"target"}));
}

void TestAtomicFile::expectedTarget_data()
{
    QTest::addColumn<QString>("change"); // what another program does while the file is written
    QTest::addColumn<bool>("committed");
    QTest::addColumn<QString>("refused"); // what the file system cannot do
    QTest::newRow("unchanged") << "nothing" << true << "";
    QTest::newRow("unchanged, no swap, no links") << "nothing" << true << "exchange, links";
    QTest::newRow("same size and time") << "same size" << false << "";
    QTest::newRow("same size and time, no swap") << "same size" << false << "exchange";
    QTest::newRow("replaced, no swap") << "replaced" << false << "exchange";
    QTest::newRow("removed") << "removed" << false << "";
    QTest::newRow("changed during the swap") << "during" << false << "";
    // Their file goes back in place, and never stays under a temporary name of ours.
    QTest::newRow("changed during the swap, no swap back") << "during" << false << "";
    for (const char* refused : {"", "noreplace EINVAL", "noreplace EPERM"}) {
        QTest::addRow("created where nothing was %s", refused) << "created" << false << refused;
        QTest::addRow("still nothing there %s", refused) << "absent" << true << refused;
    }
    // Over the empty file of ours that claims the name: the new one is never taken for it.
    QTest::newRow("still nothing there, a signal at the last rename")
        << "absent" << true << "noreplace EPERM";
}

void TestAtomicFile::expectedTarget()
{
    QFETCH(QString, change);
    QFETCH(bool, committed);
    QFETCH(QString, refused);
    FileSystemCalls& calls = FileSystemCalls::instance();
    calls.renameAt = renameSeam;
    refusedFlags = refused.startsWith("exchange")    ? RENAME_EXCHANGE
                   : refused.startsWith("noreplace") ? RENAME_NOREPLACE
                                                     : 0;
    refusal = refused.endsWith("EPERM") ? EPERM : EINVAL;
    if (refused.endsWith("links"))
        calls.linkAt = [](int, const char*, int, const char*, int) { return failWith(EPERM); };
    const QByteArray row = QTest::currentDataTag();
    swapsLeft = row.endsWith("no swap back") ? 1 : -1;
    signalAtRename = row.endsWith("last rename");
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    const QString backup = dir.filePath("target.backup");
    writeFile(backup, "older backup");
    AtomicFile::Options options;
    options.backup = backup;
    options.expected = FileIdentity();
    if (change != "created" && change != "absent") {
        writeFile(target, oldContent);
        QFile read(target);
        struct stat info = {};
        QVERIFY(read.open(QIODevice::ReadOnly) && fstat(read.handle(), &info) == 0);
        options.expected = FileIdentity::of(read.readAll(), info);
    }
    AtomicFile file(target, options);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray theirs = QByteArray(oldContent).replace('o', 'O');
    if (change == "same size")
        sameSizeAndTime(target);
    else if (change == "during")
        changedTarget = target;
    else if (change == "removed")
        QVERIFY(QFile::remove(target));
    else if (change == "replaced" || change == "created")
        writeFile(target, theirs = "other");

    QCOMPARE(writeAndCommit(file, "new"),
             committed ? QByteArray("committed") : failedWith(Outcome::Changed, 0));
    QCOMPARE(readFile(target), committed ? QByteArray("new") : change == "removed" ? "" : theirs);
    // Only a successful replace keeps the file it replaced.
    QCOMPARE(readFile(backup), committed && change != "absent" ? oldContent : "older backup");
    QCOMPARE(entries(dir.path()).filter(".tmp"), QStringList());
}

void TestAtomicFile::staleTemporaries_data()
{
    // "@host" stands for this machine, "@dead" for a process that has ended, "@live" for one
    // that runs.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removed");
    const QString stale = ".doc.varnisk-@host-@dead-1x2y.tmp";
    QTest::newRow("writer gone") << stale << true;
    QTest::newRow("writer alive") << ".doc.varnisk-@host-@live-1x2y.tmp" << false;
    QTest::newRow("locked: writer in another process namespace") << stale << false;
    // A backup's link is no file its writer holds open, but the writer claims the folder.
    QTest::newRow("claimed: a folder another process namespace writes in") << stale << false;
    QTest::newRow("another machine's") << ".doc.varnisk-other-@dead-1x2y.tmp" << false;
    QTest::newRow("another user's") << stale << false;
    QTest::newRow("recovery file") << ".doc.@host-@dead-1x2y.recovery" << false;
    QTest::newRow("backup") << "doc.varnisk-@host-@dead-1x2y.tmp.stxt" << false;
}

void TestAtomicFile::staleTemporaries()
{
    QFETCH(QString, name);
    QFETCH(bool, removed);
    const QByteArray row = QTest::currentDataTag();
    if (row == "another user's" && geteuid() != 0)
        QSKIP("only root can make a file of another user's");
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    QVERIFY(child > 0 && waitpid(child, nullptr, 0) == child);
    char host[256] = {};
    QCOMPARE(gethostname(host, sizeof host - 1), 0);
    name.replace("@host", host).replace("@dead", QString::number(child));
    QTemporaryDir dir;
    const QString path = dir.filePath(name.replace("@live", QString::number(getppid())));
    writeFile(path, "left behind");
    QFile held(path);
    QVERIFY(held.open(QIODevice::ReadOnly));
    if (row.startsWith("locked"))
        QCOMPARE(flock(held.handle(), LOCK_EX), 0);
    const FileDescriptor folder(open(QFile::encodeName(dir.path()).constData(), O_RDONLY));
    if (row.startsWith("claimed"))
        QCOMPARE(flock(folder.get(), LOCK_SH), 0);
    if (row == "another user's")
        QCOMPARE(chown(QFile::encodeName(path).constData(), 65534, 65534), 0);

    // The next write into the folder cleans up; a write in progress is left alone, and a signal
    // handler removes that one.
    FileSystemCalls::instance().unnamedTemporaries = false;
    AtomicFile inProgress(dir.filePath("doc"));
    QVERIFY(inProgress.open(QIODevice::WriteOnly));
    AtomicFile next(dir.filePath("other"));
    QCOMPARE(writeAndCommit(next, "new"), QByteArray("committed"));
    QCOMPARE(QFileInfo::exists(path), !removed);
    const QString ours = QStringLiteral("-%1-").arg(getpid());
    QCOMPARE(entries(dir.path()).filter(ours).size(), 1);
    TemporaryFiles::unlinkAll();
    QCOMPARE(entries(dir.path()).filter(ours).size(), 0);
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
