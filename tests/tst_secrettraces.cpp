// What a look into the running programs finds of a document and its password once they are
// done with them, read through /proc/PID/mem as a debugger or a core dump would (root only, the
// programs being non-dumpable), and the start-up protection that keeps everyone else from
// looking. The texts looked for are only ever held in two halves here.
#include "OpensslStream.h"
#include "ProcessMemory.h"
#include "TestSupport.h"
#include "securememory/SanitizerBuild.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using ProcessMemory::Where;

namespace {

struct Halves
{
    QString head;
    QString tail;
};

const Halves firstLine = {QStringLiteral("Bank PIN for Zorblax account: "),
                          QStringLiteral("4471-Quintessa-9083")};
const Halves lastLine = {QStringLiteral("Wifi router admin: "),
                         QStringLiteral("Hollowmere-Vantage-5512")};
// Not ASCII, so that the strength estimate makes its accent-free copies as well.
const Halves password = {QStringLiteral("Tangerine-ä"), QStringLiteral("Osprey-4417")};
// Its bytes 8 to 14, which a string growing past its 15 inline bytes would leave behind there.
const Halves passwordPiece = {QStringLiteral("e-ä"), QStringLiteral("Osp")};
// Only in the version another writer saves, which a merge brings in.
const Halves onDiskLine = {QStringLiteral("Locker code from the laptop: "),
                           QStringLiteral("Brindlewick-6630")};
// A search text can be a secret too; this one is found in the last line.
const Halves searched = {QStringLiteral("router admin: Hollow"), QStringLiteral("mere-Vantage")};

QList<QByteArray> halves(const Halves& text)
{
    return {text.head.toUtf8(), text.tail.toUtf8()};
}

// A short mark on every line between them, so that even a small leftover piece of the text
// shows.
const Halves mark = {QStringLiteral("Kv8"), QStringLiteral("-Qx2")};

// Several of the engine's 64 KiB pieces, so that its helper thread takes part.
QList<QByteArray> documentText()
{
    QList<QByteArray> pieces = halves(firstLine);
    pieces << "\n";
    for (int i = 0; i < 8000; ++i)
        pieces << QByteArray("note ") + QByteArray::number(i) + ": " << halves(mark) << " ok\n";
    return pieces << halves(lastLine) << "\n";
}

// Occurrences in UTF-8 and in UTF-16; -1 when the memory cannot be read.
int traces(pid_t pid, const Halves& text, Where where = Where::Anywhere)
{
    const int utf8 = ProcessMemory::count(pid, ProcessMemory::utf8(text.head, text.tail), where);
    const int utf16 = ProcessMemory::count(pid, ProcessMemory::utf16(text.head, text.tail), where);
    return utf8 < 0 || utf16 < 0 ? -1 : utf8 + utf16;
}

// Copies of the AES key of a version-6 document (nothing to look for in another version).
int keyTraces(pid_t pid, const QString& document)
{
    const QByteArray stream = TestSupport::readFile(document);
    if (!stream.startsWith('\x06'))
        return 0;
    const QByteArray key =
        OpensslStream::argon2KeyOf(stream, (password.head + password.tail).toUtf8());
    return key.isEmpty() ? -1 : ProcessMemory::count(pid, {key.left(16), key.mid(16, 16)});
}

QString program(const char* relative)
{
    return TestSupport::binaryPath(QString::fromLatin1(relative));
}

bool writeAll(int fd, const QList<QByteArray>& pieces)
{
    for (const QByteArray& piece : pieces) {
        for (qsizetype done = 0; done < piece.size();) {
            const ssize_t count = write(fd, piece.constData() + done, size_t(piece.size() - done));
            if (count <= 0)
                return false;
            done += count;
        }
    }
    return true;
}

// varnisk-cli with a pseudo-terminal of its own for the password prompts, its standard input a
// pipe written piece by piece, and held at its exit (ptrace) so that its memory can be read
// there, all of it still in place.
struct HeldCli
{
    pid_t pid = -1;
    int terminal = -1; // the master side
    int input = -1;

    explicit HeldCli(const QStringList& arguments)
    {
        std::vector<QByteArray> words{QFile::encodeName(program("cli/varnisk-cli"))};
        for (const QString& argument : arguments)
            words.push_back(QFile::encodeName(argument));
        std::vector<char*> argv;
        for (QByteArray& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0)
            return;
        input = pipeEnds[1];
        pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0) {
            dup2(pipeEnds[0], STDIN_FILENO);
            dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipeEnds[0]);
        // Traced from here on, it stops as it exits (it waits for its password long before).
        ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
    }
    ~HeldCli()
    {
        int status = 0;
        if (pid > 0 && kill(pid, SIGKILL) == 0) {
            ptrace(PTRACE_CONT, pid, nullptr, nullptr); // held at its exit, it waits for this
            while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status))
                ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        }
        close(terminal);
        close(input);
    }
    // Waits for the prompt and for the echo to go off, then types the pieces and Enter.
    bool answer(const QByteArray& prompt, const QList<QByteArray>& pieces)
    {
        QByteArray screen;
        struct pollfd readable = {terminal, POLLIN, 0};
        while (!screen.contains(prompt) && poll(&readable, 1, 20000) > 0) {
            char chunk[256];
            const ssize_t count = read(terminal, chunk, sizeof chunk);
            if (count <= 0)
                return false;
            screen.append(chunk, int(count));
        }
        struct termios settings = {};
        for (int i = 0;
             i < 2000 && tcgetattr(terminal, &settings) == 0 && (settings.c_lflag & ECHO) != 0; ++i)
            QTest::qSleep(5);
        return (settings.c_lflag & ECHO) == 0 &&
               writeAll(terminal, QList<QByteArray>(pieces) << "\n");
    }
    // Whether it is held at its exit; signals on their way to it are passed on.
    bool heldAtExit()
    {
        int status = 0;
        while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
            if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8)))
                return true;
            ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(long(WSTOPSIG(status))));
        }
        pid = -1;
        return false;
    }
    // Lets it go; its exit code.
    int finish()
    {
        int status = 0;
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        const bool ended = waitpid(pid, &status, 0) == pid;
        pid = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

} // namespace

class TestSecretTraces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startupProtection_data();
    void startupProtection();
    void editorLeavesNoText_data();
    void editorLeavesNoText();
    void cliLeavesNoSecret_data();
    void cliLeavesNoSecret();

private:
    static const char* whyMemoryIsNotCounted();
    bool writeDocument(const QString& path, const QList<QByteArray>& text, bool argon2 = false);
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestSecretTraces::initTestCase()
{
    QVERIFY(dir.isValid());
    TestSupport::isolateSettings(dir);
}

const char* TestSecretTraces::whyMemoryIsNotCounted()
{
#ifdef VARNISK_SANITIZER_BUILD
    return "sanitizer builds leave the heap wiping out; the plain build checks the counts";
#endif
    // CAP_SYS_PTRACE (bit 19 of the effective set), which root normally has.
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:") &&
            (line.mid(7).trimmed().toULongLong(nullptr, 16) >> 19) & 1)
            return nullptr;
    }
    return "only root (CAP_SYS_PTRACE) can read a non-dumpable process's memory: run as root";
}

bool TestSecretTraces::writeDocument(const QString& file, const QList<QByteArray>& text,
                                     bool argon2)
{
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(program("cli/varnisk-cli"),
              QStringList{"new", file, "--password-fd", "0", "--force"} +
                  (argon2 ? QStringList{"--kdf", "argon2id"} : QStringList()));
    const QList<QByteArray> input = halves(password) << "\n" << text;
    for (const QByteArray& piece : input)
        cli.write(piece);
    cli.closeWriteChannel();
    return cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit &&
           cli.exitCode() == 0;
}

void TestSecretTraces::startupProtection_data()
{
    QTest::addColumn<QString>("binary");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("editor") << program("app/varnisk") << QStringList();
    // Waiting for a password on its standard input.
    QTest::newRow("varnisk-cli") << program("cli/varnisk-cli")
                                 << QStringList{"show", "/dev/null", "--password-fd", "0"};
}

void TestSecretTraces::startupProtection()
{
    QFETCH(QString, binary);
    QFETCH(QStringList, arguments);
    // Not as root, whom no process can keep out.
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    if (geteuid() == 0)
        arguments =
            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", binary} + arguments;
    child.start(geteuid() == 0 ? QStringLiteral("setpriv") : binary, arguments);
    QVERIFY(child.waitForStarted());
    // Both programs start with it, so this is soon true or never.
    const auto protectedNow = [&] {
        return ProcessMemory::coreFileLimits(pid_t(child.processId())) == "0 0";
    };
    QTRY_VERIFY_WITH_TIMEOUT(protectedNow() || child.state() == QProcess::NotRunning, 10000);
    if (child.state() == QProcess::NotRunning && child.exitCode() >= 126)
        QSKIP("nobody cannot run the programs from this build folder (closed to other users)");
    QVERIFY2(protectedNow(), ProcessMemory::coreFileLimits(pid_t(child.processId())).constData());
    QVERIFY(!ProcessMemory::openToItsUser(pid_t(child.processId())));
}

void TestSecretTraces::editorLeavesNoText_data()
{
    QTest::addColumn<QString>("last");
    QTest::addColumn<bool>("argon2"); // the document is in version 6
    QTest::newRow("New") << "new" << false;
    QTest::newRow("Open replaces the document") << "open " + path("other.stxt") << false;
    QTest::newRow("the window closes") << "close" << false;
    // Its three versions (the base, the window's, another writer's) are gone with the window.
    QTest::newRow("the window closes after a merge") << "merge" << false;
    // The document password goes too, even from locked memory.
    QTest::newRow("the window locks") << "lock" << false;
    // Nor is the key derived from it left, nor the password in Argon2's memory.
    QTest::newRow("the window closes, version 6") << "close" << true;
}

void TestSecretTraces::editorLeavesNoText()
{
    QFETCH(QString, last);
    QFETCH(bool, argon2);
    if (const char* reason = whyMemoryIsNotCounted())
        QSKIP(reason);
    QVERIFY(writeDocument(path("secrets.stxt"), documentText(), argon2));
    QVERIFY(writeDocument(path("other.stxt"), {"another document\n"}));

    QProcess editor;
    editor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    editor.start(program("tests/editorprobe/editorprobe"),
                 {password.head, password.tail, searched.head, searched.tail});
    const auto run = [&editor](const QString& command) {
        editor.write(command.toUtf8() + '\n');
        while (!editor.canReadLine() && editor.waitForReadyRead(20000)) {
        }
        return editor.readLine().trimmed();
    };
    // The edit deletes the first line: from then on only the undo history holds it.
    for (const QString& command :
         {"open " + path("secrets.stxt"), QStringLiteral("edit"), QStringLiteral("find")})
        QCOMPARE(run(command), QByteArray("ok"));
    const pid_t pid = pid_t(editor.processId());
    QVERIFY(traces(pid, firstLine) > 0);
    QVERIFY(traces(pid, lastLine) > 0);

    if (last == "merge") {
        QVERIFY(writeDocument(path("secrets.stxt"), documentText() << halves(onDiskLine) << "\n"));
        QCOMPARE(run("merge"), QByteArray("ok"));
        QVERIFY(traces(pid, onDiskLine) > 0);
        last = "close";
    }
    QCOMPARE(run(last), QByteArray("ok"));
    QCOMPARE(traces(pid, onDiskLine), 0);
    QCOMPARE(traces(pid, firstLine), 0);
    QCOMPARE(traces(pid, lastLine), 0);
    QCOMPARE(traces(pid, mark), 0);
    QCOMPARE(traces(pid, searched), 0);
    QCOMPARE(traces(pid, password, last == "lock" ? Where::Anywhere : Where::OutsideLockedUndumped),
             0);
    if (last == "lock")
        QCOMPARE(traces(pid, passwordPiece), 0);
    QCOMPARE(keyTraces(pid, path("secrets.stxt")), 0);
}

void TestSecretTraces::cliLeavesNoSecret_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("textOnInput");
    QTest::addColumn<bool>("argon2");
    QTest::newRow("show") << QStringList{"show", path("secrets.stxt")} << false << false << false;
    QTest::newRow("new") << QStringList{"new", path("new.stxt"), "--force"} << true << true
                         << false;
    QTest::newRow("encrypt") << QStringList{"encrypt", path("plain"), "--force"} << true << false
                             << false;
    QTest::newRow("show, version 6")
        << QStringList{"show", path("secrets.stxt")} << false << false << true;
}

void TestSecretTraces::cliLeavesNoSecret()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, confirm);
    QFETCH(bool, textOnInput);
    QFETCH(bool, argon2);
    if (const char* reason = whyMemoryIsNotCounted())
        QSKIP(reason);
    QVERIFY(writeDocument(path("secrets.stxt"), documentText(), argon2));
    {
        const int plain =
            open(QFile::encodeName(path("plain")).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        for (const QByteArray& piece : documentText())
            QCOMPARE(write(plain, piece.constData(), piece.size()), ssize_t(piece.size()));
        close(plain);
    }

    HeldCli cli(arguments);
    QVERIFY(cli.answer("Password: ", halves(password)));
    if (confirm)
        QVERIFY(cli.answer("Confirm password: ", halves(password)));
    if (textOnInput) {
        // The prompts are over and the text is not there yet: it waits in read(0, ...).
        const QString syscall = QStringLiteral("/proc/%1/syscall").arg(cli.pid);
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(syscall).startsWith("0 0x0 "), 20000);
        QCOMPARE(traces(cli.pid, password, Where::OutsideLockedUndumped), 0);
        QVERIFY(writeAll(cli.input, documentText()));
    }
    close(cli.input);
    cli.input = -1;

    QVERIFY(cli.heldAtExit());
    QCOMPARE(traces(cli.pid, firstLine), 0);
    QCOMPARE(traces(cli.pid, lastLine), 0);
    QCOMPARE(traces(cli.pid, mark), 0);
    QCOMPARE(traces(cli.pid, password), 0);
    QCOMPARE(keyTraces(cli.pid, path("secrets.stxt")), 0);
    QCOMPARE(cli.finish(), 0);
}

QTEST_GUILESS_MAIN(TestSecretTraces)
#include "tst_secrettraces.moc"
