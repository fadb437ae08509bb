// Encrypted files on disk: round trips through real files, and that no failure ever damages
// an existing target or leaves a partial or temporary file behind.

#include "TestSupport.h"
#include "encryption/StreamCipher.h"
#include "files/CryptoFile.h"
#include "securememory/SecureStringHolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Outcome = Result::Outcome;
Q_DECLARE_METATYPE(Result::Outcome)

namespace {

using TestSupport::entries;
using TestSupport::randomBytes;
using TestSupport::readFile;
using TestSupport::writeFile;

const QByteArray oldContent = "precious old content\n";

// Runs "encrypt" (of plain.bin), "decrypt" (of secret.sdat) or "write" (of `data`) into `target`,
// with the sources in `dir`, as the window's file commands do.
WriteResult perform(const QString& operation, const QTemporaryDir& dir, const QString& target,
                    const QByteArray& password = "pw", const QByteArray& data = {})
{
    if (operation == "write")
        return CryptoFile::write(data, target);
    const bool encrypting = operation == "encrypt";
    SecureStringHolder holder;
    TestSupport::setPassword(holder, password);
    QFile file(dir.filePath(encrypting ? "plain.bin" : "secret.sdat"));
    if (!file.open(QIODevice::ReadOnly))
        return Result{Outcome::UnknownError, QStringLiteral("cannot open source")};
    return encrypting ? CryptoFile::encrypt(file, static_cast<quint64>(file.size()), target, holder)
                      : CryptoFile::decrypt(file, target, holder);
}

QByteArray describe(const Result& result)
{
    return QByteArray::number(static_cast<int>(result.outcome)) + ": " + result.detail.toUtf8();
}

} // namespace

class TestCryptoFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void failureKeepsTarget_data();
    void failureKeepsTarget();
    void unwritableTarget_data();
    void unwritableTarget();
    void writeFailureKeepsTarget_data();
    void writeFailureKeepsTarget();
    void sameFile_data();
    void sameFile();
    void openInput_data();
    void openInput();
};

void TestCryptoFile::roundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("empty file") << 0 << QByteArray("pw");
    QTest::newRow("300 KiB, utf-8 password")
        << 300 * 1024 << QString::fromUtf8("pässwörd€😀").toUtf8();
}

void TestCryptoFile::roundTrip()
{
    QFETCH(int, size);
    QFETCH(QByteArray, password);
    QTemporaryDir dir;
    const QByteArray data = randomBytes(size);
    writeFile(dir.filePath("plain.bin"), data);
    // Replacing an existing target is the normal case for a save.
    writeFile(dir.filePath("secret.sdat"), oldContent);

    auto result = perform("encrypt", dir, dir.filePath("secret.sdat"), password);
    QVERIFY2(result.ok(), describe(result));
    QCOMPARE(readFile(dir.filePath("secret.sdat")).left(2), QByteArray("\x05\x01"));
    result = perform("decrypt", dir, dir.filePath("back.bin"), password);
    QVERIFY2(result.ok(), describe(result));
    QVERIFY(readFile(dir.filePath("back.bin")) == data);
    // A decrypted secret must not become readable by other users through the umask.
    QCOMPARE(QFile::permissions(dir.filePath("back.bin")),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QVERIFY(TestSupport::decryptFile(dir.filePath("secret.sdat"), password) == data);
    QCOMPARE(entries(dir.path()), QStringList({"back.bin", "plain.bin", "secret.sdat"}));
}

void TestCryptoFile::failureKeepsTarget_data()
{
    // How each damage is told apart is the stream format's matter; here, the outcome each one
    // gives, and that the target, the folder and an editor's buffer stay as they were.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QList<Outcome>>("outcomes");
    QTest::newRow("tampered digest") << "digest" << false << QList<Outcome>{Outcome::WrongPassword};
    QTest::newRow("truncated") << "truncate" << true
                               << QList<Outcome>{Outcome::Failed, Outcome::WrongPassword};
    QTest::newRow("version 3") << "\x03" << true << QList<Outcome>{Outcome::VersionTooOld};
    QTest::newRow("version 7") << "\x07" << false << QList<Outcome>{Outcome::VersionTooNew};
}

void TestCryptoFile::failureKeepsTarget()
{
    QFETCH(QString, damage);
    QFETCH(bool, targetExists);
    QFETCH(QList<Outcome>, outcomes);
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    if (targetExists)
        writeFile(target, oldContent);
    const QString secret = dir.filePath("secret.sdat");
    QVERIFY(TestSupport::encryptToFile(secret, randomBytes(200), "pw"));
    QByteArray stream = readFile(secret);
    const int blocks = (stream.size() - 18) / 16;
    if (damage == "digest") {
        // Garbles one block in the data or digest and flips a bit in the next; the padding
        // block stays valid, so only the digest can tell.
        const int at = 18 + 16 * (blocks - 3) + 4;
        stream[at] = static_cast<char>(stream.at(at) ^ 1);
    } else if (damage == "truncate") {
        stream.chop(16);
    } else {
        stream[0] = damage.at(0).toLatin1();
    }
    writeFile(secret, stream);
    const auto result = perform("decrypt", dir, target);
    QVERIFY2(outcomes.contains(result.outcome), describe(result));
    // Decrypting into memory leaves the buffer alone just as well.
    SecureStringHolder holder;
    TestSupport::setPassword(holder, "pw");
    QFile source(secret);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray plain = "text in the editor";
    QVERIFY(!StreamCipher::decrypt(source, plain, holder).ok());
    QCOMPARE(plain, QByteArray("text in the editor"));
    QVERIFY(QFile::remove(secret));
    QCOMPARE(readFile(target), targetExists ? oldContent : QByteArray());
    QCOMPARE(entries(dir.path()), targetExists ? QStringList{"target"} : QStringList());
}

void TestCryptoFile::unwritableTarget_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("target"); // below "out/", a folder of its own
    QTest::addColumn<bool>("lockFolder");
    QTest::addColumn<bool>("lockFile");
    // Why a target cannot be written is AtomicFile's matter; here, that each operation asks.
    QTest::newRow("encrypt, read-only file") << "encrypt"
                                             << "old" << false << true;
    QTest::newRow("write, new file in a read-only folder") << "write"
                                                           << "new" << true << false;
    QTest::newRow("decrypt, target is a folder") << "decrypt"
                                                 << "sub" << false << false;
    // Replacing a writable file needs a new entry in the folder as well.
    QTest::newRow("decrypt, writable file in a read-only folder") << "decrypt"
                                                                  << "old" << true << false;
    QTest::newRow("decrypt, missing folder") << "decrypt"
                                             << "missing/new" << false << false;
}

void TestCryptoFile::unwritableTarget()
{
    // Root may write anywhere: the permission bits are tried without that power.
    const TestSupport::PermissionsApply permissions;
    QFETCH(QString, operation);
    QFETCH(QString, target);
    QFETCH(bool, lockFolder);
    QFETCH(bool, lockFile);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("out/sub"));
    writeFile(dir.filePath("plain.bin"), "plain");
    QVERIFY(TestSupport::encryptToFile(dir.filePath("secret.sdat"), "plain", "pw"));
    writeFile(dir.filePath("out/old"), oldContent);
    const QString out = dir.filePath("out");
    const QString path = dir.filePath("out/" + target);
    if (lockFile)
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    if (lockFolder)
        QVERIFY(QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner));

    QVERIFY(!AtomicFile::checkReplaceable(path).ok());
    const Result result = perform(operation, dir, path, "pw", "new");
    QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
    // The refusal says why.
    const int error = target == "sub" ? EISDIR : target.startsWith("missing") ? ENOENT : EACCES;
    const QString reason = qt_error_string(error);
    QCOMPARE(result.detail, reason);
    QCOMPARE(entries(out), QStringList({"old", "sub"}));
    QCOMPARE(readFile(dir.filePath("out/old")), oldContent);
}

void TestCryptoFile::writeFailureKeepsTarget_data()
{
    // Where the failure falls within a file is AtomicFile's matter; here, that each operation
    // reports a failed write as one, with the disk's reason. A decryption's used to pass for a
    // corrupted file, and a failure in the last buffered bytes for a success.
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("failAt"); // the first byte of the output that cannot be written
    const int stream = 18 + 16 * ((40 + 1 + 100000) / 16 + 1);
    QTest::newRow("encrypt, last byte: the commit") << "encrypt" << stream - 1;
    QTest::newRow("decrypt, middle: the stream's write") << "decrypt" << 50000;
}

void TestCryptoFile::writeFailureKeepsTarget()
{
    QFETCH(QString, operation);
    QFETCH(int, failAt);
    QTemporaryDir dir;
    const QByteArray data = randomBytes(100000);
    writeFile(dir.filePath("plain.bin"), data);
    QVERIFY(TestSupport::encryptToFile(dir.filePath("secret.sdat"), data, "pw"));
    QVERIFY(QDir(dir.path()).mkdir("out"));
    const QString target = dir.filePath("out/target");
    writeFile(target, oldContent);

    bool ok = false;
    const QByteArray answer = TestSupport::underFileSizeLimit(
        failAt, [&]() { return describe(perform(operation, dir, target, "pw", data)); }, &ok);
    QVERIFY(ok);
    QCOMPARE(answer, QByteArray::number(int(Outcome::SaveFailed)) + ": File too large");
    QCOMPARE(readFile(target), oldContent);
    QCOMPARE(entries(dir.filePath("out")), QStringList({"target"}));
}

void TestCryptoFile::sameFile_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("same");
    // Paths are relative to a temporary folder that is the current directory; "@/" stands for
    // its absolute path.
    const auto row = [](const char* name, const char* first, const char* second, bool same) {
        QTest::newRow(name) << QString(first) << QString(second) << same;
    };
    row("identical", "@/a.txt", "@/a.txt", true);
    row("relative and absolute", "a.txt", "@/a.txt", true);
    row("dot-dot", "sub/../a.txt", "./a.txt", true);
    row("symlink to the file", "@/link.txt", "a.txt", true);
    row("symlinked folder", "@/sublink/b.txt", "sub/b.txt", true);
    row("different files", "a.txt", "sub/b.txt", false);
    row("missing, same name", "missing.txt", "@/missing.txt", true);
    row("missing and existing", "missing.txt", "a.txt", false);
}

void TestCryptoFile::sameFile()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, same);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    writeFile(dir.filePath("a.txt"), "a");
    writeFile(dir.filePath("sub/b.txt"), "b");
    QVERIFY(QFile::link(dir.filePath("a.txt"), dir.filePath("link.txt")));
    QVERIFY(QFile::link(dir.filePath("sub"), dir.filePath("sublink")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    first.replace("@/", dir.path() + '/');
    second.replace("@/", dir.path() + '/');
    const bool forward = CryptoFile::sameFile(first, second);
    const bool backward = CryptoFile::sameFile(second, first);
    QDir::setCurrent(previous);
    QCOMPARE(forward, same);
    QCOMPARE(backward, same);
}

void TestCryptoFile::openInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asFile");   // opened as CryptoFile::Input::RegularFile
    QTest::addColumn<bool>("asStream"); // opened as CryptoFile::Input::RegularFileOrFifo
    QTest::newRow("file") << "a.txt" << true << true;
    QTest::newRow("link to a file") << "link.txt" << true << true;
    QTest::newRow("FIFO without a writer") << "fifo" << false << true;
    QTest::newRow("folder") << "." << false << false;
    QTest::newRow("device") << "/dev/zero" << false << false;
    QTest::newRow("missing") << "missing.txt" << false << false;
}

void TestCryptoFile::openInput()
{
    // A FIFO is opened without waiting for a writer, which may never come: the window that
    // asked must not freeze.
    QFETCH(QString, name);
    QFETCH(bool, asFile);
    QFETCH(bool, asStream);
    QTemporaryDir dir;
    writeFile(dir.filePath("a.txt"), "a");
    QVERIFY(QFile::link(dir.filePath("a.txt"), dir.filePath("link.txt")));
    QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
    const QString path = QDir(dir.path()).filePath(name);
    QFile file(path);
    QCOMPARE(CryptoFile::openInput(file, CryptoFile::Input::RegularFile), asFile);
    QFile stream(path);
    QCOMPARE(CryptoFile::openInput(stream, CryptoFile::Input::RegularFileOrFifo), asStream);
    if (asStream)
        QCOMPARE(stream.read(1), QByteArray(name == "fifo" ? "" : "a"));
}

QTEST_GUILESS_MAIN(TestCryptoFile)
#include "tst_cryptofile.moc"
