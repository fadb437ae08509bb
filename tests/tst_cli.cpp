// varnisk-cli as a user or a script meets it: the real binary on real files, checked against
// an independent implementation of the format (the openssl tool), with its exit codes and
// messages, its refusals to damage files, and password entry on a real pseudo-terminal.

#include "OpensslStream.h"
#include "TestSupport.h"
#include "securememory/SanitizerBuild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <sys/mount.h>
#include <sys/resource.h>

using TestSupport::ProcessResult;
using TestSupport::randomBytes;
using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

const QByteArray oldContent = "precious old content\n";

QString cli()
{
    return TestSupport::binaryPath(QStringLiteral("cli/varnisk-cli"));
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

// Runs varnisk-cli through the shell with the password (and what follows it) on standard input,
// under a file-size limit, and with standard output going to `outputFile` when one is given.
ProcessResult runInShell(const QStringList& arguments, const QByteArray& input, qint64 sizeLimit,
                         const QString& outputFile = {})
{
    QString script = QStringLiteral("exec ");
    // A ThreadSanitizer build's runtime writes a file of 512 KiB into TMPDIR as the program
    // starts, where a small limit would end it; without a usable TMPDIR it leaves that out. The
    // program itself needs no temporary folder.
    script += QStringLiteral("env TMPDIR=/nonexistent prlimit --fsize=%1 -- ").arg(sizeLimit);
    script += QStringLiteral("\"$0\" \"$@\" --password-fd 0");
    if (!outputFile.isEmpty())
        script += QStringLiteral(" > '%1'").arg(outputFile);
    return TestSupport::run(QStringLiteral("bash"), QStringList{"-c", script, cli()} + arguments,
                            input);
}

// A version-5 stream made without the engine: the record by hand, the cipher by the openssl tool.
QByteArray streamByOpenssl(const QByteArray& data, const QByteArray& password,
                           bool spoilDigest = false)
{
    QByteArray record = OpensslStream::record("\x06" + randomBytes(6), data);
    if (spoilDigest)
        record[record.size() - 5] = static_cast<char>(record.at(record.size() - 5) ^ 1);
    return OpensslStream::stream(5, password, record, randomBytes(16));
}

// The data of a version-5 stream as the openssl tool decrypts it, the digest checked; a null
// array on any mismatch.
QByteArray openedByOpenssl(const QByteArray& stream, const QByteArray& password)
{
    const OpensslStream::Record record = OpensslStream::open(stream, password);
    if (!stream.startsWith("\x05\x01") || !record.ok || !record.rest.isEmpty() ||
        record.digest != OpensslStream::sha256(record.prefix + record.data))
        return {};
    return record.data.isNull() ? QByteArray("") : record.data;
}

// varnisk-cli started through bash, which runs `prelude` first; standard error goes to
// `errors`, standard output is discarded.
void startWithErrors(QProcess& program, const QStringList& arguments, const QString& errors,
                     const QString& prelude = {})
{
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(errors);
    program.start(QStringLiteral("/bin/bash"),
                  QStringList{"-c", prelude + "exec \"$@\"", "bash", cli()} + arguments);
}

// The exit code, or minus the signal that ended the program.
int endOf(QProcess& program)
{
    program.closeWriteChannel();
    if (!program.waitForFinished(20000))
        return -1000;
    return program.exitStatus() == QProcess::CrashExit ? -program.exitCode() : program.exitCode();
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { dir = std::make_unique<QTemporaryDir>(); }
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void newAndShow_data();
    void newAndShow();
    void passwordOnAnotherDescriptor();
    void showKeepsZeroByte();
    void imageNamedByItsFirstBytes();
    void formatVersion6();

    void failedDecryptionKeepsTarget_data();
    void failedDecryptionKeepsTarget();
    void refusesToDamageFiles_data();
    void refusesToDamageFiles();
    void forceReplaces_data();
    void forceReplaces();
    void writeFailure_data();
    void writeFailure();
    void closedPipe_data();
    void closedPipe();
    void inputWithoutLength_data();
    void inputWithoutLength();
    void usage_data();
    void usage();
    void passphrase();
    void missingPassword_data();
    void missingPassword();

    void standardOutput();

    void faultsAndSignals_data();
    void faultsAndSignals();
    void memoryLimits_data();
    void memoryLimits();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    // "@x" stands for the file x in the test folder.
    QStringList inFolder(QStringList arguments) const
    {
        for (QString& argument : arguments) {
            if (argument.startsWith('@'))
                argument = path(argument.mid(1));
        }
        return arguments;
    }

    std::unique_ptr<QTemporaryDir> dir;
};

void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(cli()).isExecutable(), qPrintable(cli()));
    // A program ended by Ctrl-C leaves its input pipe without a reader.
    std::signal(SIGPIPE, SIG_IGN);
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
    QTest::addColumn<QByteArray>("warning"); // the whole of standard error
    const QByteArray weak = "Warning: One graphics card would guess this password in less than a "
                            "second. (\"varnisk-cli passphrase\" makes a strong one.)\n";

    QTest::newRow("empty file") << QByteArray("secret") << QByteArray("\n") << QByteArray() << weak;
    QTest::newRow("long non-ASCII password")
        << QByteArray("pässwörd ☃ well beyond fifteen bytes") << QByteArray("\n")
        << randomBytes(100000) << QByteArray();
    QTest::newRow("CRLF line end")
        << QByteArray("secret") << QByteArray("\r\n") << randomBytes(4097) << weak;
    // --quiet (the last argument) hides the progress, never the warning.
    QTest::newRow("empty password")
        << QByteArray() << QByteArray("\n") << randomBytes(10)
        << QByteArray("Warning: The password is empty: anyone who has the file can open it. "
                      "(\"varnisk-cli passphrase\" makes a strong one.)\n");
}

void TestCli::roundTrip()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, lineEnd);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, warning);

    writeFile(path("report.pdf"), data);
    const ProcessResult encrypted =
        TestSupport::run(cli(), {"encrypt", path("report.pdf"), "--password-fd", "0", "--quiet"},
                         password + lineEnd);
    QCOMPARE(encrypted.exitCode, 0);
    QCOMPARE(encrypted.err, warning);
    QCOMPARE(openedByOpenssl(readFile(path("report.pdf.sdat")), password), data);

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
    QTest::newRow("non-ASCII, no final newline") << QString::fromUtf8("Grüße, 密码, ☃").toUtf8();
    QTest::newRow("large") << QByteArray(200000, 'x') + "\npin: 1234\n";
}

void TestCli::newAndShow()
{
    QFETCH(QByteArray, text);
    const QByteArray password = "ümlaut pass";

    // The password is the first line of standard input, and the text is the rest of it.
    const ProcessResult created = runWithPassword({"new", path("notes.stxt")}, password, text);
    QCOMPARE(created.exitCode, 0);
    QVERIFY2(created.err.startsWith("Warning: One graphics card would guess this password in "
                                    "about 47 seconds."),
             created.err.constData());

    const ProcessResult shown = runWithPassword({"show", path("notes.stxt")}, password);
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, text);
    QCOMPARE(openedByOpenssl(readFile(path("notes.stxt")), password), text);
}

void TestCli::passwordOnAnotherDescriptor()
{
    writeFile(path("pw"), "fd three\nnot part of it\n");
    const QStringList arguments{"-c", "exec 3<\"$1\"; shift; exec \"$@\"", "bash", path("pw"),
                                cli()};
    const ProcessResult created =
        TestSupport::run(QStringLiteral("bash"),
                         arguments + QStringList{"new", "--password-fd", "3", path("doc.stxt")},
                         "text from stdin\n");
    QCOMPARE(created.exitCode, 0);
    const ProcessResult shown = runWithPassword({"show", path("doc.stxt")}, "fd three");
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, QByteArray("text from stdin\n"));
}

void TestCli::showKeepsZeroByte()
{
    // A foreign or crafted document: a filter gets every byte, not just those before the zero.
    QVERIFY(TestSupport::encryptToFile(path("doc.stxt"), QByteArray("visible\0hidden", 14), "pw"));
    const ProcessResult shown = runWithPassword({"show", path("doc.stxt")}, "pw");
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, QByteArray("visible\0hidden", 14));

    // "new" refuses such a text instead of storing what the editor could never show.
    const ProcessResult created =
        runWithPassword({"new", path("zero.stxt")}, "pw", QByteArray("a\0b", 3));
    QCOMPARE(created.exitCode, 2);
    QVERIFY(!QFile::exists(path("zero.stxt")));
}

void TestCli::imageNamedByItsFirstBytes()
{
    const QByteArray png = "\x89PNG\r\n\x1a\n" + randomBytes(100);
    QVERIFY(TestSupport::encryptToFile(path("photo.simg"), png, "pw"));
    QCOMPARE(runWithPassword({"decrypt", path("photo.simg")}, "pw").exitCode, 0);
    QCOMPARE(entries(dir->path()), QStringList({"photo.png", "photo.simg"}));
    QCOMPARE(readFile(path("photo.png")), png);
}

void TestCli::formatVersion6()
{
    // A version-6 document, which an independent implementation opens and `info` describes
    // without a password; the warning counts guesses at Argon2id's rate.
    const ProcessResult created =
        runWithPassword({"new", "--kdf", "argon2id", path("notes.stxt")}, "sommer2024", "pin\n");
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.err, QByteArray("Warning: One graphics card would guess this password in "
                                     "about 55 seconds. (\"varnisk-cli passphrase\" makes a "
                                     "strong one.)\n"));
    const OpensslStream::Record record =
        OpensslStream::open(readFile(path("notes.stxt")), "sommer2024");
    QVERIFY(record.ok);
    QCOMPARE(record.data, QByteArray("pin\n"));
    const ProcessResult info = TestSupport::run(cli(), {"info", path("notes.stxt")});
    QCOMPARE(info.exitCode, 0);
    QCOMPARE(info.out, QByteArray("format version: 6\nkey derivation: Argon2id (version 1.3), "
                                  "memory 262144 KiB, passes 3, lanes 2\n"));
    const ProcessResult shown = runWithPassword({"show", path("notes.stxt")}, "sommer2024");
    QCOMPARE(shown.exitCode, 0);
    QCOMPARE(shown.out, QByteArray("pin\n"));

    // --kdf pbkdf2 is the default, version 5.
    writeFile(path("plain"), "data");
    QCOMPARE(runWithPassword({"encrypt", "--kdf", "pbkdf2", "-q", path("plain")}, "pw").exitCode,
             0);
    QCOMPARE(TestSupport::run(cli(), {"info", path("plain.sdat")}).out,
             QByteArray("format version: 5\nkey derivation: PBKDF2-HMAC-SHA1, 1000 iterations\n"));
}

void TestCli::failedDecryptionKeepsTarget_data()
{
    QTest::addColumn<QByteArray>("stream"); // empty: the input file is missing
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("memoryLimit"); // address space in MiB; 0: none

    const QByteArray good = streamByOpenssl(randomBytes(3000), "right");
    const QStringList decrypt = {"decrypt", "--force", "-o", "target"};
    const QStringList show = {"show"};
    const QByteArray wrong = "Wrong password";
    const QByteArray damaged = "Wrong password or corrupted File!\nError-Message: ";

    QTest::newRow("show, wrong password") << good << show << 1 << wrong << 0;
    QTest::newRow("spoilt digest") << streamByOpenssl(randomBytes(3000), "pw", true) << decrypt << 1
                                   << QByteArray("Wrong password!\n") << 0;
    QTest::newRow("truncated salt")
        << good.left(10) << decrypt << 1 << damaged + "unexpected end of input\n"
        << 0;
    QTest::newRow("version 7, show")
        << QByteArray("\x07\x02") + good.mid(2) << show << 1
        << QByteArray("This file is not a Varnisk file, or was written by a newer version of "
                      "Varnisk!\n")
        << 0;
    QTest::newRow("a PNG image, show")
        << QByteArray("\x89PNG\r\n\x1a\n") + randomBytes(100) << show << 1
        << QByteArray("This file is not a Varnisk file, or was written by a newer version of "
                      "Varnisk!\n")
        << 0;
    QTest::newRow("missing file") << QByteArray() << decrypt << 3
                                  << QByteArray("File does not exsist!\n") << 0;
    const QByteArray record = OpensslStream::record("\x00", randomBytes(100));
    QTest::newRow("version 6, wrong password")
        << OpensslStream::argon2Stream("right", record, 64, 1, 1) << decrypt << 1 << wrong << 0;
    // The costs are refused before anything is allocated for them; costs within the limits that
    // the system cannot give memory for are a failure to allocate.
    const auto costing = [&](quint32 memoryKiB) {
        return "\x06\x02" + OpensslStream::littleEndian64(memoryKiB).left(4) +
               QByteArray("\x01\x00\x00\x00\x01", 5) + good.mid(2);
    };
    QTest::newRow("version 6, memory 1 GiB + 1 KiB, 200 MiB address space")
        << costing(1048577) << decrypt << 1 << damaged + "invalid header data\n"
        << 200;
    QTest::newRow("version 6, memory 1 GiB, 200 MiB address space")
        << costing(1048576) << decrypt << 3
        << QByteArray("Not enough memory!\nError-Message: Cannot allocate memory\n") << 200;
}

void TestCli::failedDecryptionKeepsTarget()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(int, memoryLimit);
#ifdef VARNISK_SANITIZER_BUILD
    if (memoryLimit > 0)
        QSKIP("a sanitizer's shadow memory does not fit in a small address space");
#endif

    if (!stream.isEmpty())
        writeFile(path("in.sdat"), stream);
    writeFile(path("target"), oldContent);
    const QStringList before = entries(dir->path());
    QDir::setCurrent(dir->path());

    arguments << path("in.sdat") << "--password-fd"
              << "0";
    const ProcessResult result =
        memoryLimit == 0
            ? TestSupport::run(cli(), arguments, "pw\n")
            : TestSupport::run(
                  "prlimit",
                  QStringList{QStringLiteral("--as=%1").arg(memoryLimit << 20), "--", cli()} +
                      arguments,
                  "pw\n");
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.startsWith(message), result.err.constData());
    QVERIFY(result.out.isEmpty());
    QCOMPARE(readFile(path("target")), oldContent);
    QCOMPARE(entries(dir->path()), before);
}

void TestCli::refusesToDamageFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("kept"); // a file that must keep its bytes
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
    QTest::newRow("into itself through a link")
        << QStringList{"decrypt", "@doc.sdat", "--force", "-o", "@link"} << "doc.sdat" << itself;
    QTest::newRow("no suffix to take off")
        << QStringList{"decrypt", "@plain"} << "plain" << QByteArray("no suffix to take off");
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
    QVERIFY(TestSupport::encryptToFile(path("doc.sdat"), "document", "pw"));
    QVERIFY(QFile::link(path("doc.sdat"), path("link")));
    QVERIFY(QFile::link(path("plain.sdat"), path("sdat-link")));
    QVERIFY(QFile::link(path("sub/missing"), path("dangling")));
    const QByteArray keptBefore = readFile(path(kept));
    const QStringList before = entries(dir->path());
    const ProcessResult result = runWithPassword(inFolder(arguments), "pw", "text");
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
    QVERIFY(TestSupport::encryptToFile(path("doc.sdat"), "new content", "pw"));
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    writeFile(path("sub/other"), oldContent);
    if (linkTo.isEmpty())
        writeFile(path("target"), oldContent);
    else
        QVERIFY(QFile::link(path("sub/" + linkTo), path("target")));
    const ProcessResult result = runWithPassword(inFolder(arguments), "pw", "new content");
    QCOMPARE(result.exitCode, 0);

    // Whatever the command wrote, it holds the new content now, and nothing else is left.
    QByteArray content = readFile(path("target"));
    if (content.at(0) == '\x05')
        content = openedByOpenssl(content, "pw");
    QCOMPARE(content, QByteArray("new content"));
    QVERIFY(!QFileInfo(path("target")).isSymLink());
    QCOMPARE(entries(dir->path()), QStringList({"doc.sdat", "plain", "sub", "target"}));
    QCOMPARE(entries(path("sub")), QStringList{"other"});
    QCOMPARE(readFile(path("sub/other")), oldContent);
}

void TestCli::writeFailure_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("failAt"); // the byte of the output that cannot be written

    // The data are 100000 bytes; an encrypted output is at least `stream` bytes long.
    const int data = 100000;
    const int stream = 18 + 16 * ((40 + 1 + data) / 16 + 1);
    for (const char* command : {"encrypt", "new", "decrypt"}) {
        const int size = qstrcmp(command, "decrypt") == 0 ? data : stream;
        QTest::addRow("%s, first byte", command) << command << 0;
        QTest::addRow("%s, middle", command) << command << size / 2;
        QTest::addRow("%s, last 16 KiB", command) << command << size - 8000;
        QTest::addRow("%s, last byte", command) << command << size - 1;
    }
    QTest::addRow("decrypt -o -") << "decrypt -o -" << data / 2;
    QTest::addRow("show") << "show" << data / 2;
}

void TestCli::writeFailure()
{
    QFETCH(QString, command);
    QFETCH(int, failAt);
    QByteArray data(100000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    writeFile(path("plain"), data);
    // Strong enough to draw no warning before the failure's message.
    const QByteArray password = "correct horse battery staple";
    QVERIFY(TestSupport::encryptToFile(path("doc.sdat"), data, password));

    const QString folder = path("out");
    QVERIFY(QDir().mkpath(folder));
    const QString target = QDir(folder).filePath("target");
    writeFile(target, oldContent);
    const QStringList before = entries(folder);

    QStringList arguments = {command.section(' ', 0, 0), "--force"};
    arguments << (command == "new" ? target : path(command == "encrypt" ? "plain" : "doc.sdat"));
    const bool toStandardOutput = command == "show" || command.endsWith("-o -");
    if (command == "show")
        arguments.removeOne("--force");
    else if (command != "new")
        arguments << "-o" << (toStandardOutput ? "-" : target);
    const ProcessResult result = runInShell(arguments, password + '\n' + data, failAt,
                                            toStandardOutput ? target : QString());

    QVERIFY2(result.exitCode == 3, result.err.constData());
    const QByteArray prefix = command == "encrypt" || command == "new"
                                  ? "Error writing File!\nError-Message: "
                                  : "Error saving file!\nError-Message: ";
    QVERIFY2(result.err.startsWith(prefix + "File too large"), result.err.constData());
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
    // The reader goes away after one byte, long before the output is written: no failure.
    QFETCH(QStringList, arguments);
    QVERIFY(TestSupport::encryptToFile(path("doc.sdat"), QByteArray(1 << 20, 'x'), "pw"));
    const ProcessResult result =
        TestSupport::run(QStringLiteral("bash"),
                         QStringList{"-c",
                                     "\"$0\" \"$@\" --password-fd 0 | head -c 1 >/dev/null; "
                                     "exit ${PIPESTATUS[0]}",
                                     cli()} +
                             arguments + QStringList{path("doc.sdat")},
                         "pw\n");
    // Ended quietly by SIGPIPE, as cat would be.
    QCOMPARE(result.exitCode, 128 + SIGPIPE);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
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
    const auto row = [](const char* tag, const QStringList& arguments, int exitCode,
                        const char* output) {
        QTest::newRow(tag) << arguments << exitCode << QByteArray(output);
    };
    row("help", {"--help"}, 0, "Exit codes:");
    row("help after command", {"decrypt", "-h"}, 0, "--password-fd N");
    row("version", {"--version"}, 0, "varnisk-cli 5.1\n");
    row("nothing", {}, 2, "No command given.");
    row("unknown command", {"open", "x"}, 2, "Unknown command: open");
    row("no file", {"encrypt"}, 2, "No file given.");
    row("two files", {"encrypt", "a", "b"}, 2, "Only one file");
    row("unknown option", {"encrypt", "--fast", "a"}, 2, "Unknown option: --fast");
    // A file name that begins with a dash and holds an h is no request for help.
    row("unknown option holding an h", {"encrypt", "-dash.txt"}, 2, "Unknown option: -dash.txt");
    row("-o without value", {"encrypt", "a", "-o"}, 2, "-o needs a value");
    row("bad descriptor", {"decrypt", "a", "--password-fd", "x"}, 2, "--password-fd needs");
    row("password as argument", {"decrypt", "a", "--password", "pw"}, 2,
        "Unknown option: --password");
    // The refused option is named without its value, which may be a password.
    row("password with =", {"decrypt", "a", "--password=pw"}, 2, "Unknown option: --password\n");
    row("bad descriptor with =", {"decrypt", "a", "--password-fd=x"}, 2, "--password-fd needs");
    row("value for a switch", {"encrypt", "--force=no", "a"}, 2, "--force takes no value");
    row("-o twice", {"decrypt", "a.sdat", "-o", "b", "--output", "c"}, 2,
        "--output was given twice");
    row("file named like an option", {"encrypt", "--", "-h"}, 3, "File does not exsist!");
    row("-o for show", {"show", "a.stxt", "-o", "b"}, 2, "-o is for encrypt and decrypt only");
    row("encrypt to stdout", {"encrypt", "a", "-o", "-"}, 2, "Only decrypt can write");
    row("passphrase too short", {"passphrase", "--words", "5"}, 2,
        "--words needs a number from 6 to 20");
    row("passphrase with a file", {"passphrase", "a"}, 2, "passphrase takes no file");
    row("words for encrypt", {"encrypt", "a", "--words", "7"}, 2, "--words is for passphrase only");
    row("kdf for show", {"show", "a.stxt", "--kdf", "argon2id"}, 2, "--kdf is for encrypt and new");
    row("unknown kdf", {"new", "a.stxt", "--kdf", "scrypt"}, 2, "--kdf needs pbkdf2 or argon2id");
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

void TestCli::passphrase()
{
    // The list follows the locale; the words are drawn anew each time.
    const QList<QByteArray> german =
        readFile(qEnvironmentVariable("VARNISK_SOURCE_DIR") + "/passwords/wordlists/"
                                                              "german_wordlist.txt")
            .split('\n');
    QSet<QByteArray> seen;
    for (int i = 0; i < 2; ++i) {
        const ProcessResult result =
            TestSupport::run("env", {"-u", "LANGUAGE", "-u", "LC_ALL", "LANG=de_DE.UTF-8", cli(),
                                     "passphrase", "--words", "8"});
        QCOMPARE(result.exitCode, 0);
        const QList<QByteArray> words = result.out.chopped(1).split(' ');
        QCOMPARE(words.size(), 8);
        for (const QByteArray& word : words)
            QVERIFY2(german.contains(word), word.constData());
        seen.insert(result.out);
    }
    QCOMPARE(seen.size(), 2);
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

void TestCli::standardOutput()
{
    // From a file the stream is checked before anything is written. A pipe cannot be read
    // twice: the data go out as they come, and a failed check says so.
    const QByteArray data = randomBytes(20000);
    writeFile(path("good.sdat"), streamByOpenssl(data, "pw"));
    writeFile(path("bad.sdat"), streamByOpenssl(data, "pw", true));
    writeFile(path("pw"), "pw\n");
    const auto decrypt = [this](const QString& stream, bool pipe) {
        const QString script = pipe ? "exec 3<\"$1\"; cat \"$2\" | \"$3\" decrypt /dev/stdin "
                                      "-o - --password-fd 3"
                                    : "exec 3<\"$1\"; exec \"$3\" decrypt \"$2\" -o - "
                                      "--password-fd 3";
        return TestSupport::run(QStringLiteral("bash"),
                                {"-c", script, "bash", path("pw"), stream, cli()});
    };
    for (const bool pipe : {false, true}) {
        const ProcessResult good = decrypt(path("good.sdat"), pipe);
        QCOMPARE(good.exitCode, 0);
        QCOMPARE(good.out, data);
        const ProcessResult bad = decrypt(path("bad.sdat"), pipe);
        QCOMPARE(bad.exitCode, 1);
        QVERIFY2(bad.err.startsWith("Wrong password!\n"), bad.err.constData());
        QCOMPARE(bad.err.contains("unverified"), pipe);
        if (!pipe)
            QCOMPARE(bad.out, QByteArray());
    }
    QCOMPARE(entries(dir->path()), QStringList({"bad.sdat", "good.sdat", "pw"}));
}

void TestCli::faultsAndSignals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("faults");   // settings of tests/support/faultshim.cpp
    QTest::addColumn<QList<int>>("kills"); // signals sent while the finished output is synced
    QTest::addColumn<int>("status");       // the exit code, or minus the signal that ended it
    QTest::addColumn<QByteArray>("message");

    const QStringList encrypt{"encrypt", "--force", "@plain", "-o", "@target"};
    const QStringList decrypt{"decrypt", "--force", "@doc.sdat", "-o", "@target"};
    const QString slowSync = "SHIM_SYNC_SLEEP_MS=1500";
    const QString named = slowSync + " SHIM_NO_TMPFILE=1";
    QTest::newRow("Ctrl-C") << encrypt << slowSync << QList<int>{SIGINT} << -SIGINT << QByteArray();
    QTest::newRow("SIGHUP, named")
        << decrypt << named << QList<int>{SIGHUP} << -SIGHUP << QByteArray();
    QTest::newRow("second SIGTERM, named")
        << decrypt << named << QList<int>{SIGTERM, SIGTERM} << -SIGTERM << QByteArray();
    QTest::newRow("SIGKILL, named")
        << decrypt << named << QList<int>{SIGKILL} << -SIGKILL << QByteArray();
    QTest::newRow("output appears meanwhile")
        << QStringList{"encrypt", "@plain", "-o", "@target"} << slowSync << QList<int>() << 2
        << QByteArray("target exists already; use --force");
    QTest::newRow("no file modes")
        << encrypt << "SHIM_FCHMOD=38" << QList<int>() << 0 << QByteArray();
    QTest::newRow("read-only file system")
        << encrypt << "" << QList<int>() << 3
        << QByteArray(
               "File could not be opened for writing!\nError-Message: Read-only file system");
}

void TestCli::faultsAndSignals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, faults);
    QFETCH(QList<int>, kills);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    const QByteArray row = QTest::currentDataTag();
    const QByteArray data = randomBytes(2000000);
    writeFile(path("plain"), data);
    QVERIFY(TestSupport::encryptToFile(path("doc.sdat"), data, "pw"));
    QString folder = dir->path();
    const QTemporaryDir readOnly;
    if (row == "read-only file system") {
        folder = readOnly.path();
        if (mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_RDONLY, "size=64k"))
            QSKIP("only root can mount a read-only file system");
        arguments.last() = readOnly.filePath("target");
    } else if (row != "output appears meanwhile") {
        writeFile(path("target"), oldContent);
        QVERIFY(QFile::setPermissions(path("target"),
                                      QFile::permissions(path("target")) | QFile::ReadOther));
    }
    const auto unmount = qScopeGuard([&] {
        if (folder == readOnly.path())
            umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });
    QStringList before = entries(folder);
    const QTemporaryDir aside;
    const QString mark = aside.filePath("mark");
    const QString errors = aside.filePath("errors");
    QProcess program;
    startWithErrors(
        program, inFolder(arguments + QStringList{"--password-fd", "0"}), errors,
        QStringLiteral("export %1 SHIM_MARK=%2 LD_PRELOAD=%3 "
                       "ASAN_OPTIONS=verify_asan_link_order=0:$ASAN_OPTIONS; ")
            .arg(faults, mark, TestSupport::binaryPath("tests/support/libvarnisk_faultshim.so")));
    QVERIFY(program.waitForStarted());
    program.write("pw\n");
    if (faults.contains("SLEEP"))
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mark), 10000);
    if (row == "output appears meanwhile")
        writeFile(path("target"), "theirs");
    for (const int signal : kills) {
        QCOMPARE(kill(program.processId(), signal), 0);
        QThread::msleep(300);
    }
    QCOMPARE(endOf(program), status);
    QVERIFY2(readFile(errors).contains(message), readFile(errors).constData());

    // The old file, or the complete new one; a kill leaves the new one, its owner's only, under
    // a temporary name that the next write into the folder removes.
    const QByteArray target = readFile(QDir(folder).filePath("target"));
    if (status == 0)
        QCOMPARE(openedByOpenssl(target, "pw"), data);
    else if (folder == dir->path())
        QCOMPARE(target, row == "output appears meanwhile" ? "theirs" : oldContent);
    const QStringList left = entries(folder).filter(".varnisk-");
    QCOMPARE(left.size(), status == -SIGKILL ? 1 : 0);
    if (!left.isEmpty()) {
        QCOMPARE(QFile::permissions(path(left.first())),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(runWithPassword(inFolder({"encrypt", "@plain", "-o", "@other"}), "pw").exitCode,
                 0);
        QVERIFY(QFile::remove(path("other")));
    }
    QStringList after = entries(folder);
    after.removeOne("target");
    before.removeOne("target");
    QCOMPARE(after, before);
}

void TestCli::memoryLimits_data()
{
    QTest::addColumn<bool>("outOfMemory"); // or else memory cannot be locked
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("memory cannot be locked")
        << false
        << QByteArray("Memory cannot be locked (ulimit -l): passwords may be written to swap.\n");
    QTest::newRow("out of memory")
        << true << QByteArray("Not enough memory!\nError-Message: Cannot allocate memory\n");
}

void TestCli::memoryLimits()
{
    QFETCH(bool, outOfMemory);
    QFETCH(QByteArray, message);
#ifdef VARNISK_SANITIZER_BUILD
    QSKIP("a sanitizer's allocator does not fail as the C library's does, and mlock() always "
          "succeeds there");
#endif
    if (outOfMemory && geteuid() != 0)
        QSKIP("only root can see a program that is not dumpable wait for its input");
    QVERIFY(TestSupport::encryptToFile(path("doc.stxt"), QByteArray(40000000, 'x'), "pw"));
    QProcess program;
    // Root may lock memory whatever the limit: it gives up the capability first.
    startWithErrors(program, {"show", path("doc.stxt"), "--password-fd", "0"}, path("errors"),
                    outOfMemory ? "export MALLOC_ARENA_MAX=1; "
                                : "ulimit -l 0; [ $(id -u) != 0 ] || set -- setpriv "
                                  "--inh-caps=-ipc_lock --bounding-set=-ipc_lock \"$@\"; ");
    QVERIFY(program.waitForStarted());
    const QString proc = QStringLiteral("/proc/%1/").arg(program.processId());
    if (outOfMemory) {
        // The limit comes once the program waits for its input, read(0, ...): what it has, and
        // 20 MB more than that.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(proc + "syscall").startsWith("0 0x0 "), 20000);
        const QByteArray status = readFile(proc + "status");
        const QByteArray kiB = status.mid(status.indexOf("VmSize:") + 7).simplified().split(' ')[0];
        const struct rlimit limit = {kiB.toULongLong() * 1024 + 20000000, RLIM_INFINITY};
        QCOMPARE(prlimit(program.processId(), RLIMIT_AS, &limit, nullptr), 0);
    }
    program.write("pw\n");
    QCOMPARE(endOf(program), outOfMemory ? 3 : 0);
    QCOMPARE(readFile(path("errors")), message);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
