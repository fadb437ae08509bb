// What a look into the running programs finds of a document and its password once they are
// done with them, read through /proc/PID/mem as a debugger or a core dump would (root only, the
// programs being non-dumpable), and the start-up protection that keeps everyone else from
// looking. The texts looked for are only ever held in two halves here.
#include "ChildProcess.h"
#include "ProcessMemory.h"
#include "SanitizerBuild.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
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

QString program(const char* relative)
{
    return TestSupport::binaryPath(QString::fromLatin1(relative));
}

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
    bool writeDocument(const QString& path, const QList<QByteArray>& text);
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

bool TestSecretTraces::writeDocument(const QString& file, const QList<QByteArray>& text)
{
    ChildProcess cli;
    ChildProcess::Options options;
    options.discardOutput = true;
    return cli.start(program("cli/varnisk-cli"), {"new", file, "--password-fd", "0", "--force"},
                     options) &&
           cli.writeInput(halves(password) << "\n") && cli.writeInput(text) && cli.finish() == 0;
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
    ChildProcess child;
    ChildProcess::Options options;
    options.discardOutput = true;
    options.asNobody = true;
    QVERIFY(child.start(binary, arguments, options));
    // Both programs start with it, so this is soon true or never.
    const auto protectedNow = [&] { return ProcessMemory::coreFileLimits(child.pid()) == "0 0"; };
    TestSupport::waitFor([&] { return protectedNow() || !child.running(); });
    if (!child.running() && child.exitStatus() >= 125 && child.exitStatus() <= 127)
        QSKIP("nobody cannot run the programs from this build folder (closed to other users)");
    QVERIFY2(protectedNow(), ProcessMemory::coreFileLimits(child.pid()).constData());
    QVERIFY(!ProcessMemory::openToItsUser(child.pid()));
}

void TestSecretTraces::editorLeavesNoText_data()
{
    QTest::addColumn<QString>("last");
    QTest::newRow("New") << "new";
    QTest::newRow("Open replaces the document") << "open " + path("other.stxt");
    QTest::newRow("the window closes") << "close";
    // The document password goes too, even from locked memory.
    QTest::newRow("the window locks") << "lock";
}

void TestSecretTraces::editorLeavesNoText()
{
    QFETCH(QString, last);
    if (const char* reason = whyMemoryIsNotCounted())
        QSKIP(reason);
    QVERIFY(writeDocument(path("secrets.stxt"), documentText()));
    QVERIFY(writeDocument(path("other.stxt"), {"another document\n"}));

    ChildProcess editor;
    QVERIFY(editor.start(program("tests/editorprobe/editorprobe"),
                         {password.head, password.tail, searched.head, searched.tail}, {}));
    // The edit deletes the first line: from then on only the undo history holds it.
    for (const QString& command :
         {"open " + path("secrets.stxt"), QStringLiteral("edit"), QStringLiteral("find")}) {
        QVERIFY(editor.writeInput({command.toUtf8() + '\n'}));
        QCOMPARE(editor.readLine(), QByteArray("ok"));
    }
    QVERIFY(traces(editor.pid(), firstLine) > 0);
    QVERIFY(traces(editor.pid(), lastLine) > 0);

    QVERIFY(editor.writeInput({last.toUtf8() + '\n'}));
    QCOMPARE(editor.readLine(), QByteArray("ok"));
    QCOMPARE(traces(editor.pid(), firstLine), 0);
    QCOMPARE(traces(editor.pid(), lastLine), 0);
    QCOMPARE(traces(editor.pid(), mark), 0);
    QCOMPARE(traces(editor.pid(), searched), 0);
    QCOMPARE(traces(editor.pid(), password,
                    last == "lock" ? Where::Anywhere : Where::OutsideLockedUndumped),
             0);
}

void TestSecretTraces::cliLeavesNoSecret_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("textOnInput");
    QTest::newRow("show") << QStringList{"show", path("secrets.stxt")} << false << false;
    QTest::newRow("new") << QStringList{"new", path("new.stxt"), "--force"} << true << true;
    QTest::newRow("encrypt") << QStringList{"encrypt", path("plain"), "--force"} << true << false;
}

void TestSecretTraces::cliLeavesNoSecret()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, confirm);
    QFETCH(bool, textOnInput);
    if (const char* reason = whyMemoryIsNotCounted())
        QSKIP(reason);
    QVERIFY(writeDocument(path("secrets.stxt"), documentText()));
    {
        const int plain =
            open(QFile::encodeName(path("plain")).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        for (const QByteArray& piece : documentText())
            QCOMPARE(write(plain, piece.constData(), piece.size()), ssize_t(piece.size()));
        close(plain);
    }

    ChildProcess cli;
    ChildProcess::Options options;
    options.terminal = true;
    options.holdAtExit = true;
    options.discardOutput = true;
    QVERIFY(cli.start(program("cli/varnisk-cli"), arguments, options));
    QVERIFY2(cli.answerPrompt("Password: ", halves(password)), cli.screen().constData());
    if (confirm)
        QVERIFY(cli.answerPrompt("Confirm password: ", halves(password)));
    if (textOnInput) {
        // The prompts are over and the text is not there yet.
        QVERIFY(cli.waitUntilReadingInput());
        QCOMPARE(traces(cli.pid(), password, Where::OutsideLockedUndumped), 0);
        QVERIFY(cli.writeInput(documentText()));
        cli.closeInput();
    }

    QVERIFY2(cli.waitUntilHeldAtExit(), cli.screen().constData());
    QCOMPARE(traces(cli.pid(), firstLine), 0);
    QCOMPARE(traces(cli.pid(), lastLine), 0);
    QCOMPARE(traces(cli.pid(), mark), 0);
    QCOMPARE(traces(cli.pid(), password), 0);
    QCOMPARE(cli.finish(), 0);
}

QTEST_GUILESS_MAIN(TestSecretTraces)
#include "tst_secrettraces.moc"
