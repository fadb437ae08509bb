// varnisk-cli as a user or a script meets it: the real binary on real files, checked against
// an independent implementation of the format (the openssl tool), with its exit codes and
// messages, its refusals to damage files, and password entry on a real pseudo-terminal.

#include "SmallTmpfs.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::ProcessResult;
using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

const QByteArray oldContent = "precious old content\n";
const QByteArray versionNewerMessage =
    "File-Version > 5: this file was written by a newer version of Varnisk!";

QString cli()
{
    return TestSupport::binaryPath(QStringLiteral("cli/varnisk-cli"));
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Runs varnisk-cli with the password as the first line of its standard input (--password-fd 0)
// followed by `rest`.
ProcessResult runWithPassword(QStringList arguments, const QByteArray& password,
                              const QByteArray& rest = {})
{
    arguments << QStringLiteral("--password-fd") << QStringLiteral("0");
    return TestSupport::run(cli(), arguments, password + '\n' + rest);
}

using TestSupport::entries;

// Runs varnisk-cli through the shell with the password (and what follows it) on standard input:
// under a file-size limit when `sizeLimit` is not negative, and with standard output going to
// `outputFile` when one is given.
ProcessResult runInShell(const QStringList& arguments, const QByteArray& input, qint64 sizeLimit,
                         const QString& outputFile = {})
{
    QString script = QStringLiteral("exec ");
    // A ThreadSanitizer build's runtime writes a file of 512 KiB into TMPDIR as the program
    // starts, where a small limit would end it; without a usable TMPDIR it leaves that out. The
    // program itself needs no temporary folder.
    if (sizeLimit >= 0)
        script += QStringLiteral("env TMPDIR=/nonexistent prlimit --fsize=%1 -- ").arg(sizeLimit);
    script += QStringLiteral("\"$0\" \"$@\" --password-fd 0");
    if (!outputFile.isEmpty())
        script += QStringLiteral(" > '%1'").arg(outputFile);
    return TestSupport::run(QStringLiteral("bash"), QStringList{"-c", script, cli()} + arguments,
                            input);
}

QByteArray littleEndian64(quint64 value)
{
    QByteArray bytes;
    for (int i = 0; i < 8; ++i, value >>= 8)
        bytes.append(static_cast<char>(value & 0xff));
    return bytes;
}

// Key and IV by the openssl tool's PBKDF2, independent of the engine.
bool deriveWithOpenssl(const QByteArray& password, const QByteArray& salt, QByteArray& key,
                       QByteArray& iv)
{
    const ProcessResult kdf = TestSupport::openssl(
        {"kdf", "-keylen", "48", "-kdfopt", "digest:SHA1", "-kdfopt",
         "hexpass:" + QString::fromLatin1(password.toHex()), "-kdfopt",
         "hexsalt:" + QString::fromLatin1(salt.toHex()), "-kdfopt", "iter:1000", "PBKDF2"});
    const QByteArray material = QByteArray::fromHex(kdf.out.trimmed().replace(':', ""));
    if (kdf.exitCode != 0 || material.size() != 48)
        return false;
    key = material.left(32).toHex();
    iv = material.mid(32).toHex();
    return true;
}

// A stream made without the engine: the record by hand, the cipher by the openssl tool.
// Version 4 is written without padding and with `trailing` bytes after the digest.
QByteArray streamByOpenssl(const QByteArray& data, const QByteArray& password, int version = 5,
                           bool spoilDigest = false)
{
    const QByteArray salt = randomBytes(16);
    QByteArray prefix = randomBytes(7);
    prefix[0] = 6;
    QByteArray digest = QCryptographicHash::hash(prefix + data, QCryptographicHash::Sha256);
    if (spoilDigest)
        digest[5] = static_cast<char>(digest[5] ^ 1);
    QByteArray record =
        littleEndian64(static_cast<quint64>(prefix.size() + data.size())) + prefix + data + digest;
    QStringList arguments = {"enc", "-aes-256-cbc"};
    if (version == 4) {
        record += randomBytes(16 - record.size() % 16 + 16); // whole blocks, bytes to ignore
        arguments << "-nopad";
    }
    QByteArray key;
    QByteArray iv;
    if (!deriveWithOpenssl(password, salt, key, iv))
        return {};
    arguments << "-K" << QString::fromLatin1(key) << "-iv" << QString::fromLatin1(iv);
    const ProcessResult enc = TestSupport::openssl(arguments, record);
    if (enc.exitCode != 0)
        return {};
    return QByteArray(1, static_cast<char>(version)) + '\x01' + salt + enc.out;
}

// Decrypts a stream with the openssl tool and takes the record apart; empty on any mismatch.
bool decryptWithOpenssl(const QByteArray& stream, const QByteArray& password, QByteArray& data)
{
    if (stream.size() < 18 + 48 || stream.at(0) != 5)
        return false;
    QByteArray key;
    QByteArray iv;
    if (!deriveWithOpenssl(password, stream.mid(2, 16), key, iv))
        return false;
    const ProcessResult dec =
        TestSupport::openssl({"enc", "-d", "-aes-256-cbc", "-K", QString::fromLatin1(key), "-iv",
                              QString::fromLatin1(iv)},
                             stream.mid(18));
    const QByteArray record = dec.out;
    if (dec.exitCode != 0 || record.size() < 8 + 1 + 32)
        return false;
    quint64 total = 0;
    for (int i = 7; i >= 0; --i)
        total = (total << 8) | static_cast<quint8>(record.at(i));
    const int prefixLength = static_cast<quint8>(record.at(8)) + 1;
    if (prefixLength > 32 || total < static_cast<quint64>(prefixLength) ||
        static_cast<quint64>(record.size()) != 8 + total + 32)
        return false;
    const QByteArray body = record.mid(8, static_cast<int>(total));
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256) !=
        record.mid(8 + static_cast<int>(total)))
        return false;
    data = body.mid(prefixLength);
    return true;
}

// Drives varnisk-cli on a pseudo-terminal: each line of `answers` is typed after the next
// password prompt ("^C" types Ctrl-C), or after the next "TEXT" for a line "TEXT|answer". With
// a `feed` file, standard input is a pipe that gets the file slowly (8 KiB every 35 ms); with an
// `errors` file, standard error goes there. Prints the exit status (negative: killed by that
// signal), whether the terminal echoes afterwards, and everything the terminal showed.
const char* ptyScript = R"(
import os, pty, sys, termios, threading, time
answers = sys.argv[1].split('\n') if sys.argv[1] else []
feed, errors, program = sys.argv[2], sys.argv[3], sys.argv[4:]
if feed:
    reading, writing = os.pipe()
pid, master = pty.fork()
if pid == 0:
    if feed:
        os.dup2(reading, 0)
        os.close(reading)
        os.close(writing)
    if errors:
        os.dup2(os.open(errors, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 2)
    os.execv(program[0], program)
def slowly():
    data = open(feed, 'rb').read()
    try:
        for i in range(0, len(data), 8192):
            os.write(writing, data[i:i + 8192])
            time.sleep(0.035)
    except OSError:
        pass
    os.close(writing)
if feed:
    os.close(reading)
    threading.Thread(target=slowly, daemon=True).start()
seen = b''
def pump(deadline):
    global seen
    while time.time() < deadline:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            return False
        if not chunk:
            return False
        seen += chunk
        return True
    return False
for answer in answers:
    expected, _, reply = answer.rpartition('|')
    expected = expected.encode() if expected else b'assword: '
    count = seen.count(expected)
    deadline = time.time() + 20
    while seen.count(expected) == count and pump(deadline):
        pass
    time.sleep(0.05)
    os.write(master, b'\x03' if reply == '^C' else reply.encode() + b'\n')
deadline = time.time() + 20
while pump(deadline):
    pass
echo = termios.tcgetattr(master)[3] & termios.ECHO != 0
_, status = os.waitpid(pid, 0)
code = os.WEXITSTATUS(status) if os.WIFEXITED(status) else -os.WTERMSIG(status)
sys.stdout.write('STATUS %d\nECHO %d\n' % (code, 1 if echo else 0))
sys.stdout.flush()
sys.stdout.buffer.write(seen)
)";

struct PtyResult
{
    int status = 99;
    bool echo = false;
    QByteArray screen;
};

PtyResult runOnTerminal(const QStringList& answers, const QStringList& arguments,
                        const QString& feed = {}, const QString& errors = {})
{
    const ProcessResult python = TestSupport::run(
        QStringLiteral("python3"),
        QStringList{"-c", ptyScript, answers.join('\n'), feed, errors, cli()} + arguments);
    PtyResult result;
    const int statusEnd = python.out.indexOf('\n');
    const int echoEnd = python.out.indexOf('\n', statusEnd + 1);
    if (!python.out.startsWith("STATUS ") || echoEnd < 0)
        return result;
    result.status = python.out.mid(7, statusEnd - 7).toInt();
    result.echo = python.out.mid(statusEnd + 1, echoEnd - statusEnd - 1) == "ECHO 1";
    result.screen = python.out.mid(echoEnd + 1);
    return result;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void newAndShow_data();
    void newAndShow();
    void passwordOnAnotherDescriptor();
    void showCutsAtZeroByte();
    void openSslReadsWhatCliWrites();
    void cliReadsWhatOpenSslWrites_data();
    void cliReadsWhatOpenSslWrites();

    void failedDecryptionKeepsTarget_data();
    void failedDecryptionKeepsTarget();
    void refusesToDamageFiles_data();
    void refusesToDamageFiles();
    void forceReplaces_data();
    void forceReplaces();
    void writesOnlyForTheOwner();
    void writeFailure_data();
    void writeFailure();
    void closedPipe_data();
    void closedPipe();
    void inputWithoutLength_data();
    void inputWithoutLength();
    void usage_data();
    void usage();
    void missingPassword_data();
    void missingPassword();

    void standardOutput_data();
    void standardOutput();
    void standardOutputFromPipe();

    void terminal_data();
    void terminal();
    void progressLine_data();
    void progressLine();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    QString writeEncrypted(const QString& name, const QByteArray& data, const QByteArray& password);

    std::unique_ptr<QTemporaryDir> dir;
};

void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(cli()).isExecutable(), qPrintable(cli()));
}

void TestCli::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString TestCli::writeEncrypted(const QString& name, const QByteArray& data,
                                const QByteArray& password)
{
    writeFile(path(name), data);
    const ProcessResult result = runWithPassword({"encrypt", path(name)}, password);
    if (result.exitCode != 0)
        qWarning("encrypt failed: %s", result.err.constData());
    QFile::remove(path(name));
    return path(name + ".sdat");
}

void TestCli::cleanup()
{
    // Some cases run in the test folder; leave it before it goes.
    QDir::setCurrent(QDir::tempPath());
    dir.reset();
}

void TestCli::roundTrip_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("empty file") << QByteArray("secret") << QByteArray("\n") << QByteArray();
    QTest::newRow("one chunk") << QByteArray("secret") << QByteArray("\n") << randomBytes(4096);
    QTest::newRow("non-ASCII password")
        << QByteArray("pässwörd ☃") << QByteArray("\n") << randomBytes(100000);
    QTest::newRow("CRLF line end")
        << QByteArray("secret") << QByteArray("\r\n") << randomBytes(4097);
    QTest::newRow("empty password") << QByteArray() << QByteArray("\n") << randomBytes(10);
    QTest::newRow("long password") << QByteArray("a password well beyond fifteen bytes")
                                   << QByteArray("\n") << randomBytes(300);
}

void TestCli::roundTrip()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, lineEnd);
    QFETCH(QByteArray, data);

    writeFile(path("report.pdf"), data);
    const ProcessResult encrypted = TestSupport::run(
        cli(), {"encrypt", path("report.pdf"), "--password-fd", "0"}, password + lineEnd);
    QCOMPARE(encrypted.exitCode, 0);
    QVERIFY2(encrypted.err.isEmpty(), encrypted.err.constData());
    const QByteArray stream = readFile(path("report.pdf.sdat"));
    QCOMPARE(stream.at(0), '\x05');
    QVERIFY(!stream.contains(data) || data.isEmpty());

    // The default output is the name without its last suffix.
    QVERIFY(QFile::rename(path("report.pdf"), path("original")));
    const ProcessResult decrypted = TestSupport::run(
        cli(), {"decrypt", "--password-fd", "0", path("report.pdf.sdat")}, password + '\n');
    QCOMPARE(decrypted.exitCode, 0);
    QCOMPARE(readFile(path("report.pdf")), data);
    QCOMPARE(entries(dir->path()), QStringList({"original", "report.pdf", "report.pdf.sdat"}));
}

void TestCli::newAndShow_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("lines") << QByteArray("mail: me@example.org\npin: 1234\n");
    QTest::newRow("no final newline") << QByteArray("just this");
    QTest::newRow("non-ASCII") << QString::fromUtf8("Grüße, 密码, ☃\n").toUtf8();
    QTest::newRow("large") << QByteArray(200000, 'x');
}

void TestCli::newAndShow()
{
    QFETCH(QByteArray, text);
    const QByteArray password = "ümlaut pass";

    // The password is the first line of standard input, and the text is the rest of it.
    const ProcessResult created = runWithPassword({"new", path("notes.stxt")}, password, text);
    QCOMPARE(created.exitCode, 0);

    const ProcessResult shown = runWithPassword({"show", path("notes.stxt")}, password);
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, text);

    QByteArray independent;
    QVERIFY(decryptWithOpenssl(readFile(path("notes.stxt")), password, independent));
    QCOMPARE(independent, text);
}

void TestCli::passwordOnAnotherDescriptor()
{
    writeFile(path("pw"), "fd three\nnot part of it\n");
    const QStringList arguments = {"-c",
                                   "exec 3<\"$1\"; shift; exec \"$@\"",
                                   "bash",
                                   path("pw"),
                                   cli(),
                                   "new",
                                   "--password-fd",
                                   "3",
                                   path("doc.stxt")};
    const ProcessResult created =
        TestSupport::run(QStringLiteral("bash"), arguments, "text from stdin\n");
    QCOMPARE(created.exitCode, 0);
    const ProcessResult shown = runWithPassword({"show", path("doc.stxt")}, "fd three");
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, QByteArray("text from stdin\n"));
}

void TestCli::showCutsAtZeroByte()
{
    const QString stream = writeEncrypted("doc", QByteArray("visible\0hidden", 14), "pw");
    QVERIFY(QFile::rename(stream, path("doc.stxt")));
    const ProcessResult shown = runWithPassword({"show", path("doc.stxt")}, "pw");
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, QByteArray("visible"));

    // "new" refuses such a text instead of storing what the editor could never show.
    const ProcessResult created =
        runWithPassword({"new", path("zero.stxt")}, "pw", QByteArray("a\0b", 3));
    QCOMPARE(created.exitCode, 2);
    QVERIFY(!QFile::exists(path("zero.stxt")));
}

void TestCli::openSslReadsWhatCliWrites()
{
    const QByteArray data = randomBytes(10000);
    const QByteArray password = "pässwörd";
    const QString stream = writeEncrypted("data", data, password);
    QByteArray independent;
    QVERIFY(decryptWithOpenssl(readFile(stream), password, independent));
    QCOMPARE(independent, data);
}

void TestCli::cliReadsWhatOpenSslWrites_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("size");
    QTest::newRow("version 5") << 5 << 5000;
    QTest::newRow("version 5, empty") << 5 << 0;
    QTest::newRow("version 4") << 4 << 5000;
}

void TestCli::cliReadsWhatOpenSslWrites()
{
    QFETCH(int, version);
    QFETCH(int, size);
    const QByteArray data = randomBytes(size);
    const QByteArray stream = streamByOpenssl(data, "€uro", version);
    QVERIFY(!stream.isEmpty());
    writeFile(path("in.sdat"), stream);
    const ProcessResult decrypted = runWithPassword({"decrypt", path("in.sdat")}, "€uro");
    QCOMPARE(decrypted.exitCode, 0);
    QCOMPARE(readFile(path("in")), data);
}

void TestCli::failedDecryptionKeepsTarget_data()
{
    QTest::addColumn<QByteArray>("stream"); // empty: the input file is missing
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");

    const QByteArray good = streamByOpenssl(randomBytes(3000), "right");
    const QStringList decrypt = {"decrypt", "--force", "-o", "target"};
    const QStringList show = {"show"};
    const QByteArray wrong = "Wrong password";

    QTest::newRow("wrong password") << good << decrypt << 1 << wrong;
    QTest::newRow("show, wrong password") << good << show << 1 << wrong;
    QTest::newRow("spoilt digest") << streamByOpenssl(randomBytes(3000), "pw", 5, true) << decrypt
                                   << 1 << QByteArray("Wrong password!\n");
    QTest::newRow("truncated") << good.left(good.size() - 16) << decrypt << 1
                               << QByteArray("Wrong password or corrupted File!\nError-Message: ");
    QTest::newRow("truncated salt") << good.left(10) << decrypt << 1
                                    << QByteArray("Wrong password or corrupted File!\n"
                                                  "Error-Message: unexpected end of input\n");
    QTest::newRow("version 3") << QByteArray("\x03\x01") + good.mid(2) << decrypt << 1
                               << QByteArray("File-Version < 4!\n");
    QTest::newRow("version 6") << QByteArray("\x06\x01") + good.mid(2) << decrypt << 1
                               << versionNewerMessage + '\n';
    QTest::newRow("version 6, show")
        << QByteArray("\x06\x01") + good.mid(2) << show << 1 << versionNewerMessage + '\n';
    QTest::newRow("missing file") << QByteArray() << decrypt << 3
                                  << QByteArray("File does not exsist!\n");
    QTest::newRow("missing document")
        << QByteArray() << show << 3 << QByteArray("File does not exsist!\n");
}

void TestCli::failedDecryptionKeepsTarget()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);

    if (!stream.isEmpty())
        writeFile(path("in.sdat"), stream);
    writeFile(path("target"), oldContent);
    const QStringList before = entries(dir->path());
    QDir::setCurrent(dir->path());

    const ProcessResult result = runWithPassword(arguments << path("in.sdat"), "pw");
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.startsWith(message), result.err.constData());
    QVERIFY(result.out.isEmpty());
    QCOMPARE(readFile(path("target")), oldContent);
    QCOMPARE(entries(dir->path()), before);
}

void TestCli::refusesToDamageFiles_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@x" stands for the file x in the test folder
    QTest::addColumn<QString>("kept");          // a file that must keep its bytes
    QTest::addColumn<QByteArray>("message");

    const QByteArray exists = "exists already; use --force";
    const QByteArray itself = "The target is the source file itself!\n";
    QTest::newRow("encrypt onto existing")
        << QStringList{"encrypt", "@plain"} << "plain.sdat" << exists;
    QTest::newRow("decrypt onto existing")
        << QStringList{"decrypt", "@doc.sdat", "-o", "@plain"} << "plain" << exists;
    QTest::newRow("new onto existing") << QStringList{"new", "@plain"} << "plain" << exists;
    QTest::newRow("encrypt into itself")
        << QStringList{"encrypt", "@plain", "-o", "@plain", "--force"} << "plain" << itself;
    QTest::newRow("decrypt into itself")
        << QStringList{"decrypt", "@doc.sdat", "--force", "-o", "@doc.sdat"} << "doc.sdat"
        << itself;
    QTest::newRow("into itself through a link")
        << QStringList{"decrypt", "@doc.sdat", "--force", "-o", "@link"} << "doc.sdat" << itself;
    QTest::newRow("no suffix to take off")
        << QStringList{"decrypt", "@plain"} << "plain" << QByteArray("no suffix to take off");
    QTest::newRow("into itself by another path")
        << QStringList{"encrypt", "@plain", "--force", "-o", "@sub/../plain"} << "plain" << itself;
    // A link counts as a file, whether it leads anywhere or not.
    QTest::newRow("onto a link") << QStringList{"encrypt", "@plain", "-o", "@sdat-link"}
                                 << "plain.sdat" << exists;
    QTest::newRow("onto a dangling link")
        << QStringList{"decrypt", "@doc.sdat", "-o", "@dangling"} << "plain" << exists;
}

void TestCli::refusesToDamageFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, kept);
    QFETCH(QByteArray, message);

    writeFile(path("plain"), oldContent);
    writeFile(path("plain.sdat"), oldContent);
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    writeEncrypted("doc", "document", "pw");
    QVERIFY(QFile::link(path("doc.sdat"), path("link")));
    QVERIFY(QFile::link(path("plain.sdat"), path("sdat-link")));
    QVERIFY(QFile::link(path("sub/missing"), path("dangling")));
    const QByteArray keptBefore = readFile(path(kept));
    const QStringList before = entries(dir->path());
    for (QString& argument : arguments) {
        if (argument.startsWith('@'))
            argument = path(argument.mid(1));
    }

    const ProcessResult result = runWithPassword(arguments, "pw", "text");
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(message), result.err.constData());
    QCOMPARE(readFile(path(kept)), keptBefore);
    QCOMPARE(entries(dir->path()), before);
    QCOMPARE(entries(path("sub")), QStringList());
}

void TestCli::forceReplaces_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("linkTo"); // the target is a link to this file in sub/
    QTest::newRow("encrypt") << QStringList{"encrypt", "--force", "@plain", "-o", "@target"}
                             << QString();
    QTest::newRow("decrypt") << QStringList{"decrypt", "-f", "@doc.sdat", "-o", "@target"}
                             << QString();
    QTest::newRow("new") << QStringList{"new", "@target", "--force"} << QString();
    // The link itself is replaced; nothing is written into the folder it points to.
    QTest::newRow("new over a link") << QStringList{"new", "@target", "--force"} << "other";
    QTest::newRow("decrypt over a dangling link")
        << QStringList{"decrypt", "-f", "@doc.sdat", "-o", "@target"} << "missing";
}

void TestCli::forceReplaces()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, linkTo);
    writeFile(path("plain"), "new content");
    writeEncrypted("doc", "new content", "pw");
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    writeFile(path("sub/other"), oldContent);
    if (linkTo.isEmpty())
        writeFile(path("target"), oldContent);
    else
        QVERIFY(QFile::link(path("sub/" + linkTo), path("target")));
    for (QString& argument : arguments) {
        if (argument.startsWith('@'))
            argument = path(argument.mid(1));
    }
    const ProcessResult result = runWithPassword(arguments, "pw", "new content");
    QCOMPARE(result.exitCode, 0);

    // Whatever the command wrote, it holds the new content now, and nothing else is left.
    QByteArray content = readFile(path("target"));
    if (content.at(0) == '\x05')
        QVERIFY(decryptWithOpenssl(content, "pw", content));
    QCOMPARE(content, QByteArray("new content"));
    QVERIFY(!QFileInfo(path("target")).isSymLink());
    QCOMPARE(entries(dir->path()), QStringList({"doc.sdat", "plain", "sub", "target"}));
    QCOMPARE(entries(path("sub")), QStringList{"other"});
    QCOMPARE(readFile(path("sub/other")), oldContent);
}

void TestCli::writesOnlyForTheOwner()
{
    const QString stream = writeEncrypted("plain", "secret data", "pw");
    QVERIFY(runWithPassword({"decrypt", stream}, "pw").exitCode == 0);
    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFile::permissions(path("plain")) & others, QFile::Permissions());
    QCOMPARE(QFile::permissions(stream) & others, QFile::Permissions());
}

void TestCli::writeFailure_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("failAt");    // the byte of the output that cannot be written
    QTest::addColumn<bool>("fullDisk"); // a full tmpfs, or else a file-size limit

    // The data are 100000 bytes; an encrypted output is at least `stream` bytes long.
    const int data = 100000;
    const int stream = 18 + 16 * ((40 + 1 + data) / 16 + 1);
    for (bool fullDisk : {false, true}) {
        const char* medium = fullDisk ? "full disk" : "size limit";
        for (const char* command : {"encrypt", "new", "decrypt"}) {
            const int size = qstrcmp(command, "decrypt") == 0 ? data : stream;
            QTest::addRow("%s, %s, first byte", command, medium) << command << 0 << fullDisk;
            QTest::addRow("%s, %s, middle", command, medium) << command << size / 2 << fullDisk;
            QTest::addRow("%s, %s, last 16 KiB", command, medium)
                << command << size - 8000 << fullDisk;
            QTest::addRow("%s, %s, last byte", command, medium) << command << size - 1 << fullDisk;
        }
        QTest::addRow("decrypt -o -, %s", medium) << "decrypt -o -" << data / 2 << fullDisk;
        QTest::addRow("show, %s", medium) << "show" << data / 2 << fullDisk;
    }
}

void TestCli::writeFailure()
{
    QFETCH(QString, command);
    QFETCH(int, failAt);
    QFETCH(bool, fullDisk);
    QByteArray data(100000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    writeFile(path("plain"), data);
    writeEncrypted("doc", data, "pw");

    SmallTmpfs disk;
    if (fullDisk && !disk.isMounted())
        QSKIP(qPrintable(disk.skipReason()));
    const QString folder = fullDisk ? disk.filePath(QString()) : path("out");
    QVERIFY(QDir().mkpath(folder));
    const QString target = QDir(folder).filePath("target");
    writeFile(target, oldContent);
    if (fullDisk)
        QVERIFY(disk.fillLeaving(failAt / 4096));
    const QStringList before = entries(folder);

    QStringList arguments = {command.section(' ', 0, 0), "--force"};
    arguments << (command == "new" ? target : path(command == "encrypt" ? "plain" : "doc.sdat"));
    const bool toStandardOutput = command == "show" || command.endsWith("-o -");
    if (command == "show")
        arguments.removeOne("--force");
    else if (command != "new")
        arguments << "-o" << (toStandardOutput ? "-" : target);
    const ProcessResult result = runInShell(arguments, "pw\n" + data, fullDisk ? -1 : failAt,
                                            toStandardOutput ? target : QString());

    QVERIFY2(result.exitCode == 3, result.err.constData());
    const QByteArray prefix = command == "encrypt" || command == "new"
                                  ? "Error writing File!\nError-Message: "
                                  : "Error saving file!\nError-Message: ";
    const QByteArray reason = fullDisk ? "No space left on device" : "File too large";
    QVERIFY2(result.err.startsWith(prefix + reason), result.err.constData());
    if (!toStandardOutput)
        QCOMPARE(readFile(target), oldContent);
    QCOMPARE(entries(folder), before);
}

void TestCli::closedPipe_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("show") << QStringList{"show"};
    QTest::newRow("decrypt -o -") << QStringList{"decrypt", "-o", "-"};
}

void TestCli::closedPipe()
{
    // The reader goes away after one byte, long before the output is written.
    QFETCH(QStringList, arguments);
    writeEncrypted("doc", QByteArray(1 << 20, 'x'), "pw");
    const ProcessResult result =
        TestSupport::run(QStringLiteral("bash"),
                         QStringList{"-c",
                                     "\"$0\" \"$@\" --password-fd 0 | head -c 1 >/dev/null; "
                                     "exit ${PIPESTATUS[0]}",
                                     cli()} +
                             arguments + QStringList{path("doc.sdat")},
                         "pw\n");
    QCOMPARE(result.exitCode, 3);
    QVERIFY2(result.err.startsWith("Error saving file!\nError-Message: Broken pipe"),
             result.err.constData());
}

void TestCli::inputWithoutLength_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("device") << "\"$0\" encrypt /dev/zero -o \"$1\" --password-fd 3";
    QTest::newRow("pipe") << "echo secret | \"$0\" encrypt /dev/stdin -o \"$1\" --password-fd 3";
}

void TestCli::inputWithoutLength()
{
    // Encryption writes the input's length first: a device or a pipe announces none and is
    // refused before anything is written. The size limit keeps a regression from filling the
    // disk.
    QFETCH(QString, command);
    writeFile(path("pw"), "pw\n");
    const ProcessResult result =
        TestSupport::run(QStringLiteral("bash"), {"-c", "ulimit -f 2048; exec 3<\"$2\"; " + command,
                                                  cli(), path("out.sdat"), path("pw")});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains("is not a regular file"), result.err.constData());
    QCOMPARE(entries(dir->path()), QStringList{"pw"});
}

void TestCli::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output"); // expected in standard output (exit 0) or error

    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Exit codes:");
    QTest::newRow("help after command")
        << QStringList{"decrypt", "-h"} << 0 << QByteArray("--password-fd N");
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("varnisk-cli 5.1\n");
    QTest::newRow("nothing") << QStringList{} << 2 << QByteArray("No command given.");
    QTest::newRow("unknown command")
        << QStringList{"open", "x"} << 2 << QByteArray("Unknown command: open");
    QTest::newRow("no file") << QStringList{"encrypt"} << 2 << QByteArray("No file given.");
    QTest::newRow("two files") << QStringList{"encrypt", "a", "b"} << 2
                               << QByteArray("Only one file");
    QTest::newRow("unknown option")
        << QStringList{"encrypt", "--fast", "a"} << 2 << QByteArray("Unknown option: --fast");
    QTest::newRow("-o without value")
        << QStringList{"encrypt", "a", "-o"} << 2 << QByteArray("-o needs a value");
    QTest::newRow("bad descriptor") << QStringList{"decrypt", "a", "--password-fd", "x"} << 2
                                    << QByteArray("--password-fd needs");
    QTest::newRow("password as argument") << QStringList{"decrypt", "a", "--password", "pw"} << 2
                                          << QByteArray("Unknown option: --password");
    // The refused option is named without its value, which may be a password.
    QTest::newRow("password with =") << QStringList{"decrypt", "a", "--password=pw"} << 2
                                     << QByteArray("Unknown option: --password\n");
    QTest::newRow("bad descriptor with =")
        << QStringList{"decrypt", "a", "--password-fd=x"} << 2 << QByteArray("--password-fd needs");
    QTest::newRow("value for a switch")
        << QStringList{"encrypt", "--force=no", "a"} << 2 << QByteArray("--force takes no value");
    QTest::newRow("-o twice") << QStringList{"decrypt", "a.sdat", "-o", "b", "--output", "c"} << 2
                              << QByteArray("--output was given twice");
    QTest::newRow("file named like an option")
        << QStringList{"encrypt", "--", "-h"} << 3 << QByteArray("File does not exsist!");
    QTest::newRow("-o for show") << QStringList{"show", "a.stxt", "-o", "b"} << 2
                                 << QByteArray("-o is for encrypt and decrypt only");
    QTest::newRow("encrypt to stdout")
        << QStringList{"encrypt", "a", "-o", "-"} << 2 << QByteArray("Only decrypt can write");
}

void TestCli::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QDir::setCurrent(dir->path());
    const ProcessResult result = TestSupport::run(cli(), arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? result.out : result.err).contains(output),
             (result.out + result.err).constData());
    QVERIFY(entries(dir->path()).isEmpty());
}

void TestCli::missingPassword_data()
{
    QTest::addColumn<QString>("fd");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("empty standard input") << "0" << QByteArray();
    QTest::newRow("descriptor not open") << "7" << QByteArray("pw\n");
}

void TestCli::missingPassword()
{
    QFETCH(QString, fd);
    QFETCH(QByteArray, input);
    writeFile(path("plain"), "data");
    const ProcessResult result =
        TestSupport::run(cli(), {"encrypt", path("plain"), "--password-fd", fd}, input);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains("No password could be read from file descriptor " + fd.toLatin1()),
             result.err.constData());
    QCOMPARE(entries(dir->path()), QStringList{"plain"});
}

void TestCli::standardOutput_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("spoilDigest");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("verified") << QByteArray("pw") << false << 0;
    QTest::newRow("wrong password") << QByteArray("nope") << false << 1;
    QTest::newRow("spoilt digest") << QByteArray("pw") << true << 1;
}

void TestCli::standardOutput()
{
    QFETCH(QByteArray, password);
    QFETCH(bool, spoilDigest);
    QFETCH(int, exitCode);
    const QByteArray data = randomBytes(20000);
    writeFile(path("in.sdat"), streamByOpenssl(data, "pw", 5, spoilDigest));

    const ProcessResult result = runWithPassword({"decrypt", path("in.sdat"), "-o", "-"}, password);
    QCOMPARE(result.exitCode, exitCode);
    // A file is checked before anything is written, so a failure writes nothing at all.
    QCOMPARE(result.out, exitCode == 0 ? data : QByteArray());
    QCOMPARE(entries(dir->path()), QStringList{"in.sdat"});
}

void TestCli::standardOutputFromPipe()
{
    // A pipe cannot be read twice: the data go out as they come, and a failed check says so.
    const QByteArray data = randomBytes(20000);
    writeFile(path("good.sdat"), streamByOpenssl(data, "pw"));
    writeFile(path("bad.sdat"), streamByOpenssl(data, "pw", 5, true));
    writeFile(path("pw"), "pw\n");
    const auto fromPipe = [this](const QString& stream) {
        return TestSupport::run(QStringLiteral("bash"),
                                {"-c",
                                 "exec 3<\"$1\"; cat \"$2\" | \"$3\" decrypt /dev/stdin "
                                 "-o - --password-fd 3",
                                 "bash", path("pw"), stream, cli()});
    };

    const ProcessResult good = fromPipe(path("good.sdat"));
    QCOMPARE(good.exitCode, 0);
    QCOMPARE(good.out, data);

    const ProcessResult bad = fromPipe(path("bad.sdat"));
    QCOMPARE(bad.exitCode, 1);
    QVERIFY2(bad.err.startsWith("Wrong password!\n"), bad.err.constData());
    QVERIFY(bad.err.contains("unverified"));
}

void TestCli::terminal_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("written");

    QTest::newRow("passwords match") << QStringList{"typed secret", "typed secret"} << 0
                                     << QByteArray("Confirm password: ") << true;
    QTest::newRow("passwords differ") << QStringList{"typed secret", "typed secreT"} << 2
                                      << QByteArray("Passwords don't match!") << false;
    QTest::newRow("Ctrl-C at the prompt")
        << QStringList{"^C"} << -2 << QByteArray("Password: ") << false;
    QTest::newRow("Ctrl-C at the second prompt")
        << QStringList{"typed secret", "^C"} << -2 << QByteArray("Confirm password: ") << false;
}

void TestCli::terminal()
{
    QFETCH(QStringList, answers);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    QFETCH(bool, written);
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 is needed to drive a pseudo-terminal");

    writeFile(path("plain"), "terminal data");
    const PtyResult result = runOnTerminal(answers, {"encrypt", path("plain")});
    QCOMPARE(result.status, status);
    QVERIFY2(result.screen.contains(message), result.screen.constData());
    // Echo was off while the password was typed, and is on again however the program ended.
    QVERIFY2(!result.screen.contains("typed"), result.screen.constData());
    QVERIFY(result.echo);
    QCOMPARE(QFile::exists(path("plain.sdat")), written);
    if (written) {
        QByteArray plain;
        QVERIFY(decryptWithOpenssl(readFile(path("plain.sdat")), "typed secret", plain));
        QCOMPARE(plain, QByteArray("terminal data"));
    }
}

void TestCli::progressLine_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("errorsToFile"); // standard error is a file, not the terminal
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("shown");

    QTest::newRow("terminal") << QStringList() << false << QStringList{"pw"} << 0 << true;
    QTest::newRow("--quiet") << QStringList{"--quiet"} << false << QStringList{"pw"} << 0 << false;
    QTest::newRow("standard error is a file")
        << QStringList() << true << QStringList{"pw"} << 0 << false;
    // Ctrl-C once the line shows: the line is ended, the output removed, the signal kills.
    QTest::newRow("Ctrl-C") << QStringList() << false << QStringList{"pw", "/s|^C"} << -2 << true;
}

void TestCli::progressLine()
{
    QFETCH(QStringList, options);
    QFETCH(bool, errorsToFile);
    QFETCH(QStringList, answers);
    QFETCH(int, status);
    QFETCH(bool, shown);
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 is needed to drive a pseudo-terminal");

    // 300 KB through a slow pipe take more than a second: long enough for the line to show.
    const QByteArray data = randomBytes(300000);
    writeFile(path("slow.sdat"), streamByOpenssl(data, "pw"));
    const QString errors = errorsToFile ? path("errors") : QString();
    const PtyResult result =
        runOnTerminal(answers, QStringList{"decrypt", "/dev/stdin", "-o", path("out")} + options,
                      path("slow.sdat"), errors);
    QCOMPARE(result.status, status);
    QVERIFY(result.echo);
    // The line is drawn over itself and ended before the program is, however it ended.
    const QRegularExpression line(QStringLiteral("(\rDecrypting: [0-9.]+ [KM]iB, [0-9.]+ "
                                                 "[KM]iB/s *)+(\\^C)?\r\n$"));
    QVERIFY2(line.match(QString::fromUtf8(result.screen)).hasMatch() == shown,
             result.screen.constData());
    if (!shown)
        QVERIFY2(!result.screen.contains("/s"), result.screen.constData());
    if (errorsToFile)
        QCOMPARE(readFile(errors), QByteArray());
    QCOMPARE(readFile(path("out")), status == 0 ? data : QByteArray());
    QCOMPARE(entries(dir->path()).contains("out"), status == 0);
    QCOMPARE(entries(dir->path()).size(), 1 + (status == 0) + errorsToFile);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
