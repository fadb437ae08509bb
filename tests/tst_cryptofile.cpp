// Encrypted files on disk: round trips through real files, and that no failure ever damages
// an existing target or leaves a partial or temporary file behind.

#include "CryptoFile.h"
#include "SecureStringHolder.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using Outcome = CryptoFile::Outcome;
Q_DECLARE_METATYPE(CryptoFile::Outcome)

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

const QByteArray oldContent = "precious old content\n";

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void setPassword(SecureStringHolder& holder, const QByteArray& password)
{
    holder.string().assign(password.constData(), static_cast<std::size_t>(password.size()));
}

CryptoFile::Result encryptFile(const QString& source, const QString& target,
                               const QByteArray& password)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return {Outcome::UnknownError, QStringLiteral("cannot open source")};
    return CryptoFile::encrypt(file, static_cast<quint64>(file.size()), target, holder);
}

CryptoFile::Result decryptFile(const QString& source, const QString& target,
                               const QByteArray& password)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return {Outcome::UnknownError, QStringLiteral("cannot open source")};
    return CryptoFile::decrypt(file, target, holder);
}

QStringList entries(const QTemporaryDir& dir)
{
    return TestSupport::entries(dir.path());
}

const char* describe(const CryptoFile::Result& result)
{
    static QByteArray text;
    text = QByteArray::number(static_cast<int>(result.outcome)) + ": " + result.detail.toUtf8();
    return text.constData();
}

// Makes a file or folder impossible to change. Permission bits do that for a normal user; root
// ignores them, so as root the file system's immutable flag is used. Undone on destruction.
class Unwritable
{
public:
    explicit Unwritable(const QString& target) : path(target)
    {
        if (geteuid() != 0) {
            permissions = QFile::permissions(path);
            applied =
                QFile::setPermissions(path, permissions & ~(QFile::WriteOwner | QFile::WriteUser |
                                                            QFile::WriteGroup | QFile::WriteOther));
        } else {
            immutable = true;
            applied = setImmutable(true);
        }
    }
    ~Unwritable()
    {
        if (!applied)
            return;
        if (immutable)
            setImmutable(false);
        else
            QFile::setPermissions(path, permissions);
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;

    bool ok() const { return applied; }

private:
    bool setImmutable(bool on) const
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    QString path;
    QFile::Permissions permissions;
    bool immutable = false;
    bool applied = false;
};

} // namespace

class TestCryptoFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void failedDecryptKeepsTarget_data();
    void failedDecryptKeepsTarget();
    void failedDecryptIntoMemoryKeepsBuffer();
    void failedEncryptKeepsTarget();
    void unwritableTarget();
    void unwritableDirectory();
    void readOnlyTargetAsRoot();
    void replacedTargetKeepsMode();
    void newTargetIsOwnerOnly();
    void writeFailureKeepsTarget_data();
    void writeFailureKeepsTarget();
    void sameFile_data();
    void sameFile();
    void isWritableTarget();
};

void TestCryptoFile::roundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("empty file") << 0 << QByteArray("pw");
    QTest::newRow("one byte, empty password") << 1 << QByteArray();
    QTest::newRow("5000 bytes, utf-8 password") << 5000 << QString::fromUtf8("pässwörd€😀").toUtf8();
    QTest::newRow("300 KiB") << 300 * 1024 << QByteArray("pw");
}

void TestCryptoFile::roundTrip()
{
    QFETCH(int, size);
    QFETCH(QByteArray, password);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray data = randomBytes(size);
    writeFile(dir.filePath("plain.bin"), data);
    // Replacing an existing target is the normal case for a save.
    writeFile(dir.filePath("secret.sdat"), oldContent);

    auto result = encryptFile(dir.filePath("plain.bin"), dir.filePath("secret.sdat"), password);
    QVERIFY2(result.ok(), describe(result));
    const QByteArray stream = readFile(dir.filePath("secret.sdat"));
    QCOMPARE(stream.left(2), QByteArray("\x05\x01"));
    QVERIFY(stream.size() >= 18 + 16 * ((40 + 1 + size) / 16 + 1)); // K = 1 at the least

    result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("back.bin"), password);
    QVERIFY2(result.ok(), describe(result));
    QVERIFY(readFile(dir.filePath("back.bin")) == data);

    SecureStringHolder holder;
    setPassword(holder, password);
    QFile source(dir.filePath("secret.sdat"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray plain;
    result = CryptoFile::decrypt(source, plain, holder);
    QVERIFY2(result.ok(), describe(result));
    QVERIFY(plain == data);

    QCOMPARE(entries(dir), QStringList({"back.bin", "plain.bin", "secret.sdat"}));
}

void TestCryptoFile::failedDecryptKeepsTarget_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QList<Outcome>>("outcomes");
    const QList<Outcome> wrongPassword{Outcome::Failed, Outcome::WrongPassword};
    for (bool exists : {true, false}) {
        const char* target = exists ? "existing target" : "no target";
        QTest::addRow("wrong password, %s", target)
            << QString() << QByteArray("wrong") << exists << wrongPassword;
        QTest::addRow("tampered digest, %s", target)
            << "digest" << QByteArray("pw") << exists << QList<Outcome>{Outcome::WrongPassword};
        QTest::addRow("truncated, %s", target)
            << "truncate" << QByteArray("pw") << exists << wrongPassword;
        QTest::addRow("version 6, %s", target)
            << "version6" << QByteArray("pw") << exists << QList<Outcome>{Outcome::VersionTooNew};
        QTest::addRow("version 3, %s", target)
            << "version3" << QByteArray("pw") << exists << QList<Outcome>{Outcome::VersionTooOld};
    }
}

void TestCryptoFile::failedDecryptKeepsTarget()
{
    QFETCH(QString, damage);
    QFETCH(QByteArray, password);
    QFETCH(bool, targetExists);
    QFETCH(QList<Outcome>, outcomes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("plain.bin"), randomBytes(200));
    auto result = encryptFile(dir.filePath("plain.bin"), dir.filePath("secret.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    QVERIFY(QFile::remove(dir.filePath("plain.bin")));

    QByteArray stream = readFile(dir.filePath("secret.sdat"));
    const int blocks = (stream.size() - 18) / 16;
    if (damage == "digest") {
        // Garbles one block in the data or digest and flips a bit in the next; the padding
        // block stays valid, so only the digest can tell.
        stream[18 + 16 * (blocks - 3) + 4] =
            static_cast<char>(stream.at(18 + 16 * (blocks - 3) + 4) ^ 1);
    } else if (damage == "truncate") {
        stream.chop(16);
    } else if (damage == "version6") {
        stream[0] = 6;
    } else if (damage == "version3") {
        stream[0] = 3;
    }
    writeFile(dir.filePath("secret.sdat"), stream);
    if (targetExists)
        writeFile(dir.filePath("target.txt"), oldContent);

    result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("target.txt"), password);
    QVERIFY2(outcomes.contains(result.outcome), describe(result));
    if (targetExists) {
        QCOMPARE(readFile(dir.filePath("target.txt")), oldContent);
        QCOMPARE(entries(dir), QStringList({"secret.sdat", "target.txt"}));
    } else {
        QCOMPARE(entries(dir), QStringList({"secret.sdat"}));
    }
}

void TestCryptoFile::failedDecryptIntoMemoryKeepsBuffer()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("plain.txt"), "new text");
    auto result = encryptFile(dir.filePath("plain.txt"), dir.filePath("doc.stxt"), "pw");
    QVERIFY2(result.ok(), describe(result));
    SecureStringHolder holder;
    setPassword(holder, "not the password");
    QFile source(dir.filePath("doc.stxt"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray plain = "text in the editor";
    result = CryptoFile::decrypt(source, plain, holder);
    QVERIFY(!result.ok());
    QCOMPARE(plain, QByteArray("text in the editor"));
}

void TestCryptoFile::failedEncryptKeepsTarget()
{
    // The source delivers fewer bytes than announced: the stream format throws half-way.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("secret.sdat"), oldContent);
    QByteArray data = randomBytes(100);
    QBuffer source(&data);
    QVERIFY(source.open(QIODevice::ReadOnly));
    SecureStringHolder holder;
    const auto result = CryptoFile::encrypt(source, 101, dir.filePath("secret.sdat"), holder);
    QCOMPARE(result.outcome, Outcome::Failed);
    QCOMPARE(result.detail, QStringLiteral("stream length parameter has wrong value"));
    QCOMPARE(readFile(dir.filePath("secret.sdat")), oldContent);
    QCOMPARE(entries(dir), QStringList({"secret.sdat"}));
}

void TestCryptoFile::unwritableTarget()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("plain.txt"), "plain");
    auto result = encryptFile(dir.filePath("plain.txt"), dir.filePath("secret.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    writeFile(dir.filePath("target.txt"), oldContent);
    {
        Unwritable guard(dir.filePath("target.txt"));
        if (!guard.ok())
            QSKIP("running as root on a file system without the immutable flag: "
                  "cannot make a file unwritable for root");
        QVERIFY(!CryptoFile::isWritableTarget(dir.filePath("target.txt")));
        result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("target.txt"), "pw");
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
        result = encryptFile(dir.filePath("plain.txt"), dir.filePath("target.txt"), "pw");
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
        result = CryptoFile::write("new", dir.filePath("target.txt"));
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
    }
    QCOMPARE(readFile(dir.filePath("target.txt")), oldContent);
    QCOMPARE(entries(dir), QStringList({"plain.txt", "secret.sdat", "target.txt"}));
}

void TestCryptoFile::unwritableDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("out"));
    writeFile(dir.filePath("plain.txt"), "plain");
    auto result = encryptFile(dir.filePath("plain.txt"), dir.filePath("secret.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    writeFile(dir.filePath("out/existing.txt"), oldContent);
    {
        Unwritable guard(dir.filePath("out"));
        if (!guard.ok())
            QSKIP("running as root on a file system without the immutable flag: "
                  "cannot make a folder unwritable for root");
        QVERIFY(!CryptoFile::isWritableTarget(dir.filePath("out/new.txt")));
        result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("out/new.txt"), "pw");
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
        // An existing file cannot be replaced either: that needs a new entry in the folder.
        result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("out/existing.txt"), "pw");
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
        result = CryptoFile::write("new", dir.filePath("out/new.txt"));
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
    }
    QCOMPARE(
        QDir(dir.filePath("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({"existing.txt"}));
    QCOMPARE(readFile(dir.filePath("out/existing.txt")), oldContent);
}

void TestCryptoFile::readOnlyTargetAsRoot()
{
    // Root may write any file whatever its permission bits; what matters is that the result
    // is all or nothing and says which of the two it was.
    if (geteuid() != 0)
        QSKIP("only meaningful as root; unwritableTarget covers a normal user");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("plain.txt"), "new plain text");
    auto result = encryptFile(dir.filePath("plain.txt"), dir.filePath("secret.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    writeFile(dir.filePath("target.txt"), oldContent);
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(dir.filePath("target.txt"), readOnly));
    result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("target.txt"), "pw");
    if (result.ok()) {
        QCOMPARE(readFile(dir.filePath("target.txt")), QByteArray("new plain text"));
        // The replacement may gain the owner's write bit, never access for anyone else.
        const QFile::Permissions mode = QFile::permissions(dir.filePath("target.txt"));
        QCOMPARE(mode & ~(QFile::WriteOwner | QFile::WriteUser), readOnly);
    } else {
        QVERIFY2(result.outcome == Outcome::CannotWrite, describe(result));
        QCOMPARE(readFile(dir.filePath("target.txt")), oldContent);
    }
    QCOMPARE(entries(dir), QStringList({"plain.txt", "secret.sdat", "target.txt"}));
}

void TestCryptoFile::replacedTargetKeepsMode()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("plain.txt"), "plain");
    writeFile(dir.filePath("secret.sdat"), oldContent);
    writeFile(dir.filePath("target.txt"), oldContent);
    const QFile::Permissions ownerOnly =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    const QFile::Permissions groupToo = ownerOnly | QFile::ReadGroup | QFile::WriteGroup;
    QVERIFY(QFile::setPermissions(dir.filePath("secret.sdat"), ownerOnly));
    QVERIFY(QFile::setPermissions(dir.filePath("target.txt"), groupToo));

    auto result = encryptFile(dir.filePath("plain.txt"), dir.filePath("secret.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    QCOMPARE(QFile::permissions(dir.filePath("secret.sdat")), ownerOnly);
    result = decryptFile(dir.filePath("secret.sdat"), dir.filePath("target.txt"), "pw");
    QVERIFY2(result.ok(), describe(result));
    QCOMPARE(readFile(dir.filePath("target.txt")), QByteArray("plain"));
    QCOMPARE(QFile::permissions(dir.filePath("target.txt")), groupToo);
}

void TestCryptoFile::newTargetIsOwnerOnly()
{
    // A decrypted secret must not become readable by other users through the umask.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("plain.txt"), "plain");
    auto result = encryptFile(dir.filePath("plain.txt"), dir.filePath("new.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    result = decryptFile(dir.filePath("new.sdat"), dir.filePath("restored.txt"), "pw");
    QVERIFY2(result.ok(), describe(result));
    const QFile::Permissions ownerOnly =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    QCOMPARE(QFile::permissions(dir.filePath("new.sdat")), ownerOnly);
    QCOMPARE(QFile::permissions(dir.filePath("restored.txt")), ownerOnly);
}

void TestCryptoFile::writeFailureKeepsTarget_data()
{
    // Where the failure falls within a file is AtomicFile's matter; here, that each operation
    // reports a failed write as one, with the disk's reason. A decryption's used to pass for a
    // corrupted file, and a failure in the last buffered bytes for a success.
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("failAt"); // the first byte of the output that cannot be written
    const int stream = 18 + 16 * ((40 + 1 + 100000) / 16 + 1);
    QTest::newRow("encrypt, last byte") << "encrypt" << stream - 1;
    QTest::newRow("decrypt, middle") << "decrypt" << 50000;
    QTest::newRow("decrypt, last byte") << "decrypt" << 99999;
    QTest::newRow("write, last byte") << "write" << 99999;
}

void TestCryptoFile::writeFailureKeepsTarget()
{
    QFETCH(QString, operation);
    QFETCH(int, failAt);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray data = randomBytes(100000);
    writeFile(dir.filePath("plain.bin"), data);
    auto result = encryptFile(dir.filePath("plain.bin"), dir.filePath("secret.sdat"), "pw");
    QVERIFY2(result.ok(), describe(result));
    QVERIFY(QDir(dir.path()).mkdir("out"));
    const QString target = dir.filePath("out/target");
    writeFile(target, oldContent);

    bool ok = false;
    const QByteArray answer = TestSupport::underFileSizeLimit(
        failAt,
        [&]() {
            if (operation == "encrypt")
                result = encryptFile(dir.filePath("plain.bin"), target, "pw");
            else if (operation == "decrypt")
                result = decryptFile(dir.filePath("secret.sdat"), target, "pw");
            else
                result = CryptoFile::write(data, target);
            return QByteArray(describe(result));
        },
        &ok);
    QVERIFY(ok);
    QCOMPARE(answer, QByteArray::number(int(Outcome::SaveFailed)) + ": File too large");
    QCOMPARE(readFile(target), oldContent);
    QCOMPARE(TestSupport::entries(dir.filePath("out")), QStringList({"target"}));
}

void TestCryptoFile::sameFile_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("same");
    // Paths are relative to a temporary folder that is the current directory; "@/" stands for
    // its absolute path.
    QTest::newRow("identical") << "@/a.txt"
                               << "@/a.txt" << true;
    QTest::newRow("relative and absolute") << "a.txt"
                                           << "@/a.txt" << true;
    QTest::newRow("dot-dot") << "sub/../a.txt"
                             << "./a.txt" << true;
    QTest::newRow("symlink to the file") << "@/link.txt"
                                         << "a.txt" << true;
    QTest::newRow("symlinked folder") << "@/sublink/b.txt"
                                      << "sub/b.txt" << true;
    QTest::newRow("different files") << "a.txt"
                                     << "sub/b.txt" << false;
    QTest::newRow("missing, same name") << "missing.txt"
                                        << "@/missing.txt" << true;
    QTest::newRow("missing and existing") << "missing.txt"
                                          << "a.txt" << false;
}

void TestCryptoFile::sameFile()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, same);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
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

void TestCryptoFile::isWritableTarget()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    writeFile(dir.filePath("a.txt"), "a");
    QVERIFY(CryptoFile::isWritableTarget(dir.filePath("a.txt")));
    QVERIFY(CryptoFile::isWritableTarget(dir.filePath("new.txt")));
    QVERIFY(!CryptoFile::isWritableTarget(dir.filePath("sub")));
    QVERIFY(!CryptoFile::isWritableTarget(dir.filePath("missing/new.txt")));
    const auto result = CryptoFile::write("x", dir.filePath("sub"));
    QCOMPARE(result.outcome, Outcome::CannotWrite);
    QVERIFY(QFileInfo(dir.filePath("sub")).isDir());
}

QTEST_GUILESS_MAIN(TestCryptoFile)
#include "tst_cryptofile.moc"
