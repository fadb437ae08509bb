// Secrets documents end to end: New, Open, Save, Save As and the "Save changes?" question,
// driven through the real dialogs on real files.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "OpensslStream.h"
#include "TestSupport.h"
#include "documents/RecoveryFile.h"
#include "files/FileSystemCalls.h"
#include "securememory/SanitizerBuild.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace EditorWindow;
using TestSupport::decryptFile;
using TestSupport::encryptToFile;
using TestSupport::readFile;

namespace {

ino_t inode(const QString& path)
{
    struct stat info = {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

// Opens `path` through the password dialog, pressing `then` in the message box that follows if
// given; the texts of the other message boxes.
QStringList open(Varnisk& window, const QString& path, const QByteArray& password,
                 const QString& then = {})
{
    ModalScript script;
    script.password(password);
    if (!then.isEmpty())
        script.press(then);
    window.openFile(path);
    script.waitUntilDone();
    QTest::qWait(100);
    return script.unexpectedMessages;
}

// Another writer replaces `doc` with its own document, under another password.
void replaceByAnotherWriter(const QString& doc, const QByteArray& text = "theirs",
                            const QByteArray& password = "their pw")
{
    const QString fresh = doc + QStringLiteral(".new");
    if (!encryptToFile(fresh, text, password) || std::rename(qPrintable(fresh), qPrintable(doc)))
        qWarning("could not replace %s", qPrintable(doc));
}

// Answers the dialogs in turn: "cancel" rejects one, "message" notes one's text and presses Ok,
// "pw:X" types X into a password dialog, anything else is the caption of the button to press.
void answer(ModalScript& script, const QString& steps)
{
    for (const QString& step : steps.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        if (step == "cancel")
            script.cancel();
        else if (step == "message")
            script.message();
        else if (step.startsWith("pw:"))
            script.password(step.mid(3).toUtf8());
        else
            script.press(step);
    }
}

// The editor probe (a real editor process) with `doc` open (password "pw") and edited.
// The probe's answer to one command, without its "\n".
QByteArray reply(QProcess& probe)
{
    while (!probe.canReadLine() && probe.waitForReadyRead(20000)) {
    }
    return probe.readLine().trimmed();
}

// With `owned`, the editor is an ordinary user's (nobody's, when the test runs as root, which
// then hands `owned` and what it holds to that user). What opening answered, if the edit went.
QByteArray startProbe(QProcess& probe, const QString& doc, const QStringList& owned = {})
{
    QStringList command{TestSupport::binaryPath(QStringLiteral("tests/editorprobe/editorprobe")),
                        "p", "w"};
    if (geteuid() == 0 && !owned.isEmpty()) {
        command =
            QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + command;
        for (const QString& folder : owned)
            TestSupport::run("chown", {"-R", "--from=0:0", "65534:65534", folder});
    }
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(command.takeFirst(), command);
    probe.write("open " + doc.toUtf8() + "\nedit\n");
    const QByteArray opened = reply(probe);
    return reply(probe) == "ok" ? opened : "the edit failed";
}

QStringList recoveryFiles(const QString& folder)
{
    return QDir(folder).entryList({".doc.stxt.*.recovery"}, QDir::Files | QDir::Hidden);
}

} // namespace

class tst_SecretsDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { dir.reset(); }

    void saveAndOpen_data();
    void saveAndOpen();
    void openFailures_data();
    void openFailures();
    void wrongPasswordAsksAgain();
    void failedSaveKeepsOldDocument_data();
    void failedSaveKeepsOldDocument();
    void saveInPlaceInLockedFolder();
    void saveThroughLink();
    void formatVersion6();
    void saveChanges_data();
    void saveChanges();
    void changedOnDisk_data();
    void changedOnDisk();
    void changedByAnotherProcess();
    void merge_data();
    void merge();
    void conflictCopies_data();
    void conflictCopies();
    void backups_data();
    void backups();
    void endingSignals_data();
    void endingSignals();
    void outOfMemoryKeepsEdits_data();
    void outOfMemoryKeepsEdits();
    void recovery_data();
    void recovery();

private:
    std::unique_ptr<Varnisk> openDocument(const QString& path, const QString& edited);
    QString path(const QString& name) const { return dir->filePath(name); }

    QTemporaryDir settings;
    std::unique_ptr<QTemporaryDir> dir;
};

void tst_SecretsDocument::initTestCase()
{
    // Failed writes are provoked through the file-size limit.
    std::signal(SIGXFSZ, SIG_IGN);
    TestSupport::isolateSettings(settings);
}

std::unique_ptr<Varnisk> tst_SecretsDocument::openDocument(const QString& file,
                                                           const QString& edited)
{
    auto window = show();
    if (!open(*window, file, "pw").isEmpty())
        qWarning("the document did not open");
    if (!edited.isNull())
        edit(*window, edited);
    return window;
}

void tst_SecretsDocument::saveAndOpen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("typedName");
    QTest::newRow("empty document, empty password") << QString() << QByteArray() << "doc.stxt";
    QTest::newRow("utf-8 text, long non-ascii password, no suffix typed")
        << QStringLiteral("Grüße, 密码 €😀\nsecond line\ttab") << QByteArray("ä€😀 longer than 15")
        << "doc";
}

void tst_SecretsDocument::saveAndOpen()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, password);
    QFETCH(QString, typedName);
    {
        auto window = show();
        edit(*window, text);
        ModalScript script;
        script.chooseFile(path(typedName)).passwords(password, password);
        trigger(*window, "action_Save_As");
        QVERIFY(script.waitUntilDone());
        QCOMPARE(script.unexpected, QStringList());
        QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt"));
        QVERIFY(!editor(*window)->document()->isModified());
        QVERIFY(EditorWindow::cleared(*window));
        // A named document is saved at once, under the same password.
        edit(*window, text + "!");
        trigger(*window, "action_Save");
        QCOMPARE(script.unexpected, QStringList());
    }
    // The bytes on disk: the editor's UTF-8 text under that password.
    QCOMPARE(decryptFile(path("doc.stxt"), password), (text + "!").toUtf8());

    auto window = show();
    QCOMPARE(open(*window, path("doc.stxt"), password), QStringList());
    QCOMPARE(editor(*window)->toPlainText(), text + "!");
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt"));
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_SecretsDocument::openFailures_data()
{
    // Each outcome of the engine, as the editor words it. The open document stays.
    QTest::addColumn<QByteArray>("content"); // "doc": a document of "secret" under "right"
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("message"); // empty: it opens, and shows "before"
    const QString wrongPassword =
        QStringLiteral("Wrong password or corrupted File!\nError-Message: ");
    QTest::newRow("partial block")
        << QByteArray("\x05\x01", 2) + QByteArray(16 + 40, 'x') << QByteArray("pw")
        << wrongPassword + "error decrypting final block";
    QTest::newRow("wrong password") << QByteArray("doc") << QByteArray("wrong") << "Wrong password";
    // The digest alone tells: the unverified text must not reach the editor.
    QTest::newRow("tampered") << QByteArray("tampered") << QByteArray("right") << "Wrong password!";
    QTest::newRow("a folder") << QByteArray("folder") << QByteArray("pw")
                              << "File could not be opened for reading!";
    // The text after a zero byte cannot be shown: asked first, and Cancel is the default.
    QTest::newRow("a zero byte: not opened without asking")
        << QByteArray("zero") << QByteArray("right")
        << "bad.stxt holds more data after a zero byte";
    QTest::newRow("a zero byte: the text before it")
        << QByteArray("zero, open") << QByteArray("right") << "";
}

void tst_SecretsDocument::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, password);
    QFETCH(QString, message);
    const QString file = path("bad.stxt");
    if (content == "folder") {
        QVERIFY(QDir().mkdir(file));
    } else if (content.startsWith("zero")) {
        QVERIFY(encryptToFile(file, QByteArray("before\0after", 12), "right"));
    } else if (content == "doc" || content == "tampered") {
        QVERIFY(encryptToFile(file, QByteArray(5000, 's'), "right"));
        if (content == "tampered") {
            QByteArray bytes = readFile(file);
            bytes[bytes.size() - 40] = static_cast<char>(bytes[bytes.size() - 40] ^ 0x01);
            TestSupport::writeFile(file, bytes);
        }
    } else {
        TestSupport::writeFile(file, content);
    }
    const QByteArray before = readFile(file);
    auto window = show(QStringLiteral("kept"));
    const QStringList messages =
        open(*window, file, password, content == "zero, open" ? "&Open the Text Before It" : "");
    QCOMPARE(messages.size(), message.isEmpty() ? 0 : 1);
    // A wrong password mostly spoils the padding, else the digest: two wordings.
    QVERIFY2(message.isEmpty() || messages.first().startsWith(message),
             qPrintable(messages.join("")));
    QCOMPARE(editor(*window)->toPlainText(), message.isEmpty() ? "before" : "kept");
    QCOMPARE(window->windowTitle(),
             message.isEmpty() ? QStringLiteral("Varnisk - bad.stxt") : "Varnisk - NoName");
    QVERIFY(EditorWindow::cleared(*window));
    QCOMPARE(readFile(file), before);
}

void tst_SecretsDocument::wrongPasswordAsksAgain()
{
    // A mistyped password does not drop the Open: the same file asks again until it opens.
    QVERIFY(encryptToFile(path("doc.stxt"), "secret", "right"));
    auto window = show();
    ModalScript script;
    script.password("wrong").message().password("right");
    window->openFile(path("doc.stxt"));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("secret"));
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_SecretsDocument::failedSaveKeepsOldDocument_data()
{
    // Where in the file the write fails is AtomicFile's matter; here, that Save reports it and
    // keeps both the old file and the edits.
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("message");
    const QString error = QStringLiteral("Error writing File!\nError-Message: ");
    QTest::newRow("file-size limit") << "limit" << error + "File too large";
    // The new file is in place, but not surely on disk: said so, the document stays modified.
    QTest::newRow("folder sync") << "sync"
                                 << error + "Input/output error\nThe new file is in place";
    QTest::newRow("no folder to write in")
        << "proc" << QStringLiteral("File could not be opened for writing!");
}

void tst_SecretsDocument::failedSaveKeepsOldDocument()
{
    QFETCH(QString, failure);
    QFETCH(QString, message);
    const QString folder = dir->path();
    const QString file = QDir(folder).filePath(QStringLiteral("doc.stxt"));
    QVERIFY(encryptToFile(file, "the only copy", "pw"));
    const QByteArray before = readFile(file);
    auto window = openDocument(file, QString(100000, QLatin1Char('x')));
    const QStringList entries = TestSupport::entries(folder);

    ModalScript script;
    QString shown;
    const FileSystemCalls real = FileSystemCalls::instance();
    if (failure == "sync") {
        FileSystemCalls::instance().syncFolder = [](int) {
            errno = EIO;
            return -1;
        };
    }
    if (failure == "proc") {
        // /proc/sys takes no new files, for root too, and holds folders only: Qt 6's later file
        // dialogs look into the folders visited before and read their files to tell their type,
        // and a read of /proc/kmsg waits for the kernel's next message.
        script.chooseFile(QStringLiteral("/proc/sys/varnisk-test.stxt")).passwords("pw", "pw");
    }
    script.message(&shown);
    {
        std::unique_ptr<TestSupport::FileSizeLimit> limit;
        if (failure == "limit")
            limit = std::make_unique<TestSupport::FileSizeLimit>(50000);
        trigger(*window, failure == "proc" ? "action_Save_As" : "action_Save");
        QVERIFY(script.waitUntilDone());
    }
    FileSystemCalls::instance() = real;
    QVERIFY2(shown.startsWith(message), qPrintable(shown));
    if (failure != "sync") {
        QCOMPARE(readFile(file), before);
        QCOMPARE(TestSupport::entries(folder), entries);
    }
    QVERIFY(editor(*window)->document()->isModified());
    QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/sys/varnisk-test.stxt")));
    // The title names the file that the next Save writes to: after Save As, the new one.
    QCOMPARE(window->windowTitle(), failure == "proc"
                                        ? QStringLiteral("Varnisk - varnisk-test.stxt*")
                                        : QStringLiteral("Varnisk - doc.stxt*"));

    // Closing the window still asks, so the edits are not lost.
    ModalScript closing;
    closing.answer(QMessageBox::Cancel);
    QVERIFY(!window->close());
    QCOMPARE(closing.messages, QStringList({"Save changes?"}));
}

void tst_SecretsDocument::saveInPlaceInLockedFolder()
{
    // A document the user may write, in a folder where they may not create files: saved in
    // place.
    const TestSupport::PermissionsApply permissions; // root's too
    const QString folder = path(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    const QString file = folder + QStringLiteral("/doc.stxt");
    QVERIFY(encryptToFile(file, "old text", "pw"));
    const ino_t original = inode(file);
    auto window = openDocument(file, QString());
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&folder]() {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly))
        QSKIP("this file system lets us create files in a read-only folder");

    // Twice: the second save knows the version the first one wrote in place.
    ModalScript none;
    for (const QString text : {"newer text", "new text"}) {
        edit(*window, text);
        trigger(*window, "action_Save");
    }
    QCOMPARE(none.unexpectedMessages, QStringList());
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt"));
    QCOMPARE(decryptFile(file, "pw"), QByteArray("new text"));
    QCOMPARE(inode(file), original);
    // That a failed write in place puts the old bytes back is tst_atomicfile's matter.
}

void tst_SecretsDocument::saveThroughLink()
{
    // A document opened through a link is saved where it lives; the link stays.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("real")));
    const QString real = path(QStringLiteral("real/doc.stxt"));
    const QString link = path(QStringLiteral("doc.stxt"));
    QVERIFY(encryptToFile(real, "old", "pw"));
    QVERIFY(QFile::link(real, link));
    auto window = openDocument(link, QStringLiteral("new"));
    trigger(*window, "action_Save");
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(decryptFile(real, "pw"), QByteArray("new"));
}

void tst_SecretsDocument::formatVersion6()
{
    // doc.stxt in version 5, with a backup in version 5 beside it; raised to version 6 by Save As
    // onto itself, with the same password.
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString backup = path(QStringLiteral("doc.backup.stxt"));
    const auto version = [](const QString& file) { return readFile(file).left(1).toHex(); };
    QVERIFY(encryptToFile(doc, "first", "pw") && encryptToFile(backup, "zeroth", "pw"));
    auto window = openDocument(doc, QStringLiteral("second"));
    bool offered = true;
    ModalScript raising;
    raising.replaceFile(doc).passwords("pw", "pw", true, &offered);
    trigger(*window, "action_Save_As");
    QVERIFY(raising.waitUntilDone());
    QCOMPARE(raising.unexpected, QStringList());
    QVERIFY(!offered);
    QCOMPARE(version(doc), QByteArray("06"));
    // No copy of the secrets stays in the weaker format.
    QVERIFY(!QFileInfo::exists(backup));

    // Recovery files, backups and plain saves stay in version 6.
    edit(*window, QStringLiteral("third"));
    QVERIFY(window->writeRecovery());
    QCOMPARE(readFile(RecoveryFile::pathFor(doc)).split('\n').value(3).left(1).toHex(), "06");
    trigger(*window, "action_Save");
    QCOMPARE(version(doc), QByteArray("06"));
    QCOMPARE(version(backup), QByteArray("06"));
    window.reset();

    // Opened in version 6, a document is offered Save As in version 6; the lock seals it in
    // version 6, which closing while locked writes as it is.
    window = openDocument(doc, QStringLiteral("fourth"));
    ModalScript copying;
    copying.chooseFile(path("copy.stxt")).passwords("pw", "pw", true, &offered);
    trigger(*window, "action_Save_As");
    QVERIFY(copying.waitUntilDone());
    QVERIFY(offered);
    edit(*window, QStringLiteral("fifth"));
    QVERIFY(window->lock());
    ModalScript closing;
    closing.answer(QMessageBox::Yes);
    window->close();
    QVERIFY(closing.waitUntilDone());
    QCOMPARE(closing.unexpected, QStringList());
    QCOMPARE(version(path("copy.stxt")), QByteArray("06"));
    QCOMPARE(decryptFile(path("copy.stxt"), "pw"), QByteArray("fifth"));
}

void tst_SecretsDocument::saveChanges_data()
{
    // A window holding "edited": an unnamed document, or doc.stxt (saved as "on disk" under
    // "pw") opened and edited. The operation, the dialogs answered in turn (Yes, No, Cancel: the
    // question; cancel: reject a dialog; a file name; passwords, password: type them), whether
    // the operation went ahead, and what the named file (or fresh.stxt) holds afterwards.
    QTest::addColumn<bool>("named");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("proceeded");
    QTest::addColumn<QByteArray>("saved"); // null: doc.stxt unchanged, fresh.stxt not created
    QTest::addColumn<QStringList>("messages");
    const QStringList ask{"Save changes?"};
    const auto row = [&](const char* tag, bool named, bool modified, const char* operation,
                         const char* steps, bool proceeded, const QByteArray& saved,
                         const QStringList& messages) {
        QTest::newRow(tag) << named << modified << QString::fromLatin1(operation)
                           << QString::fromLatin1(steps).split(' ', Qt::SkipEmptyParts) << proceeded
                           << saved << messages;
    };
    row("New, not modified: no question", false, false, "New", "", true, {}, {});
    row("New, Cancel", false, true, "New", "Cancel", false, {}, ask);
    row("New, No", true, true, "New", "No", true, {}, ask);
    row("New, Yes on a named document saves, then goes on", true, true, "New", "Yes", true,
        "edited", ask);
    row("New, Yes on an unnamed document runs Save As", false, true, "New",
        "Yes fresh.stxt passwords", true, "edited", ask);
    row("New, Yes, file dialog cancelled", false, true, "New", "Yes cancel", false, {}, ask);
    row("New, Yes, password cancelled", false, true, "New", "Yes fresh.stxt cancel", false, {},
        ask);
    row("New, Yes, the save fails: asked again", true, true, "New broken", "Yes message Cancel",
        false, {},
        {"Save changes?", "Error writing File!\nError-Message: File too large", "Save changes?"});
    row("Close, Yes on an unnamed document saves first", false, true, "Close",
        "Yes fresh.stxt passwords", true, "edited", ask);
    row("Close, password cancelled: the window stays", false, true, "Close",
        "Yes fresh.stxt cancel", false, {}, ask);
    // Before, a request to open a file replaced a modified document without a question.
    row("openFile on a modified document, Cancel", true, true, "openFile", "Cancel", false, {},
        ask);
    row("openFile on a modified document, No", true, true, "openFile", "No password", true, {},
        ask);
    row("Open: file dialog cancelled", true, true, "Open", "No cancel", false, {}, ask);
    row("Open: password cancelled", true, true, "Open", "No other.stxt cancel", false, {}, ask);
    row("Save As: file dialog cancelled", true, true, "Save As", "cancel", false, {}, {});
    row("Save As: password cancelled", true, true, "Save As", "fresh.stxt cancel", false, {}, {});
    // Closing would drop the Save As half-way. The document is unmodified, so that nothing
    // but the open dialog can hold the window.
    row("Close while the password dialog is open", false, false, "Save As", "fresh.stxt close",
        false, {}, {});
}

void tst_SecretsDocument::saveChanges()
{
    QFETCH(bool, named);
    QFETCH(bool, modified);
    QFETCH(QString, operation);
    QFETCH(QStringList, steps);
    QFETCH(bool, proceeded);
    QFETCH(QByteArray, saved);
    QFETCH(QStringList, messages);
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString fresh = path(QStringLiteral("fresh.stxt"));
    QVERIFY(encryptToFile(doc, "on disk", "pw"));
    QVERIFY(encryptToFile(path(QStringLiteral("other.stxt")), "other", "pw"));
    const QByteArray before = readFile(doc);
    std::unique_ptr<Varnisk> window = named ? openDocument(doc, {}) : show();
    if (modified)
        edit(*window, QStringLiteral("edited"));
    const QString title = window->windowTitle();
    // The save fails at its first bytes.
    std::unique_ptr<TestSupport::FileSizeLimit> limit;
    if (operation.endsWith(QLatin1String(" broken")))
        limit = std::make_unique<TestSupport::FileSizeLimit>(10);

    ModalScript script;
    bool closed = true;
    for (const QString& step : steps) {
        if (step == "Yes" || step == "No" || step == "Cancel")
            script.answer(step == "Yes"  ? QMessageBox::Yes
                          : step == "No" ? QMessageBox::No
                                         : QMessageBox::Cancel);
        else if (step == "cancel")
            script.cancel();
        else if (step == "message")
            script.message();
        else if (step == "passwords")
            script.passwords("new pw", "new pw");
        else if (step == "password")
            script.password("pw");
        else if (step == "close")
            script.then([&](QWidget* dialog) {
                closed = window->close();
                static_cast<QDialog*>(dialog)->reject();
            });
        else
            script.chooseFile(path(step));
    }
    if (operation == "openFile")
        window->openFile(path(QStringLiteral("other.stxt")));
    else if (operation == "Close")
        closed = window->close();
    else
        trigger(*window, operation.startsWith("New")          ? "action_New"
                         : operation == QLatin1String("Open") ? "action_Open"
                                                              : "action_Save_As");
    QVERIFY(script.waitUntilDone());
    QTest::qWait(50);
    limit.reset();
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(script.messages, messages);

    if (proceeded && operation == "Close") {
        QVERIFY(closed);
    } else if (proceeded) {
        QCOMPARE(editor(*window)->toPlainText(), operation == "New" ? "" : "other");
        QVERIFY(!editor(*window)->document()->isModified());
    } else {
        QVERIFY(window->isVisible());
        QVERIFY(!closed || operation != "Close");
        QVERIFY(!(closed && steps.contains("close")));
        QCOMPARE(editor(*window)->toPlainText(), modified ? "edited" : "");
        QCOMPARE(window->windowTitle(), title);
        QVERIFY(EditorWindow::cleared(*window));
    }
    if (operation.endsWith(QLatin1String(" broken")))
        return;
    if (named)
        QCOMPARE(decryptFile(doc, "pw"), saved.isNull() ? QByteArray("on disk") : saved);
    if (named && saved.isNull())
        QCOMPARE(readFile(doc), before);
    if (!named)
        QCOMPARE(decryptFile(fresh, "new pw"), saved);
    // A cancelled password dialog leaves the document's own password: Save still uses it.
    if (named && !proceeded) {
        trigger(*window, "action_Save");
        QCOMPARE(decryptFile(doc, "pw"), QByteArray("edited"));
    }
}

void tst_SecretsDocument::changedOnDisk_data()
{
    // Between Open and Save another writer replaces doc.stxt, rewrites it in place with other
    // bytes of the same size and modification time, or removes it. The button pressed in the
    // question that names the file; what the file holds then: the window's text ("mine"), the
    // other writer's bytes ("theirs"), or nothing.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("answer"); // empty: no question
    QTest::addColumn<QString>("holds");
    for (const QString change : {"replaced", "same size and time", "removed"}) {
        const QString gone = change == QLatin1String("removed") ? "" : "theirs";
        QTest::addRow("%s, overwrite", qPrintable(change))
            << change << (gone.isEmpty() ? "&Write It Again" : "&Overwrite") << "mine";
        QTest::addRow("%s, save as", qPrintable(change)) << change << "Save &As..." << gone;
        QTest::addRow("%s, cancel", qPrintable(change)) << change << "Cancel" << gone;
    }
    QTest::newRow("unchanged: no question") << "unchanged"
                                            << ""
                                            << "mine";
}

void tst_SecretsDocument::changedOnDisk()
{
    QFETCH(QString, change);
    QFETCH(QString, answer);
    QFETCH(QString, holds);
    const QString doc = path(QStringLiteral("doc.stxt"));
    QVERIFY(encryptToFile(doc, "on disk", "pw"));
    auto window = openDocument(doc, QStringLiteral("mine"));
    struct stat before = {};
    QCOMPARE(stat(qPrintable(doc), &before), 0);
    if (change == "replaced") {
        replaceByAnotherWriter(doc);
    } else if (change == "same size and time") {
        QByteArray bytes = readFile(doc);
        bytes[40] = static_cast<char>(bytes[40] ^ 1);
        TestSupport::writeFile(doc, bytes);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(utimensat(AT_FDCWD, qPrintable(doc), times, 0), 0);
        QCOMPARE(inode(doc), before.st_ino);
    } else if (change == "removed") {
        QVERIFY(QFile::remove(doc));
    }
    const QByteArray theirs = readFile(doc);

    ModalScript script;
    if (!answer.isEmpty())
        script.press(answer);
    if (answer.startsWith("Save"))
        script.chooseFile(path(QStringLiteral("other.stxt"))).passwords("pw2", "pw2");
    trigger(*window, "action_Save");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(script.messages.size(), answer.isEmpty() ? 0 : 1);
    QVERIFY(script.messages.isEmpty() || script.messages.first().startsWith("doc.stxt "));
    QCOMPARE(holds == "mine" ? decryptFile(doc, "pw") : readFile(doc),
             holds == "mine" ? "mine" : theirs);
    QCOMPARE(QFileInfo::exists(doc), !holds.isEmpty());
    if (answer.startsWith("Save"))
        QCOMPARE(decryptFile(path(QStringLiteral("other.stxt")), "pw2"), QByteArray("mine"));
    // Cancel writes nothing, and the edits still count as unsaved.
    QCOMPARE(editor(*window)->document()->isModified(), answer == "Cancel");
}

void tst_SecretsDocument::changedByAnotherProcess()
{
    // The same document in two editors: the second save is not made over the first one's
    // version without a question (which the probe counts as unexpected and cancels).
    const QString doc = path(QStringLiteral("doc.stxt"));
    QVERIFY(encryptToFile(doc, "line one\nline two\n", "pw"));
    QProcess first;
    QProcess second;
    QVERIFY(startProbe(first, doc) == "ok" && startProbe(second, doc) == "ok");
    second.write("save\n");
    QCOMPARE(reply(second), QByteArray("ok"));
    const QByteArray saved = readFile(doc);
    first.write("save\ntitle\n");
    QVERIFY(reply(first).startsWith("failed: unexpected message box: doc.stxt was changed"));
    QCOMPARE(reply(first), QByteArray("ok Varnisk - doc.stxt*"));
    QCOMPARE(readFile(doc), saved);
}

void tst_SecretsDocument::merge_data()
{
    // doc.stxt holds four lines under "pw"; the window opens it and changes the pin (`how`: and
    // then locks and unlocks, or later undoes the merge), and a second writer (varnisk-cli)
    // replaces the file with `theirs` under `password`. The answers to the Save (or Close) that
    // asks, the last message's start, what the editor holds then (null: what it held); the
    // answers to the next Save and what it writes (null: nothing), under the password it keeps.
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("theirs");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("merged");
    QTest::addColumn<QString>("nextSave");
    QTest::addColumn<QByteArray>("written");
    const QByteArray note =
        "user: ann\r\npin: 1234\r\nurl: x\r\nnote: new\r\n"; // the editor keeps no CR
    const QString both = "user: ann\npin: 9999\nurl: x\nnote: new\n";
    const QByteArray pin = "user: ann\npin: 5555\nurl: x\nnote: old\n";
    const QString clash = "user: ann\n<<<<<<< this window\npin: 9999\n=======\npin: 5555\n"
                          ">>>>>>> on disk\nurl: x\nnote: old\n";
    const QString clean = "The versions were merged without a clash.";
    const auto row = [&](const char* name, const char* how, const QByteArray& theirs,
                         const char* password, const char* answers, const QString& told,
                         const QString& merged, const char* nextSave, const QString& written) {
        QTest::newRow(name) << how << theirs << QByteArray(password) << answers << told << merged
                            << nextSave << (written.isNull() ? QByteArray() : written.toUtf8());
    };
    row("separate lines", "save", note, "pw", "&Merge|message", clean, both, "", both);
    // Only the file can give the base back after a lock: without it both changes would clash.
    row("after a lock", "lock", note, "pw", "&Merge|message", clean, both, "", both);
    row("during Close: the window stays", "close", note, "pw", "&Yes|&Merge|message", clean, both,
        "", both);
    row("a clash, under another password", "save", pin, "their pw", "&Merge|pw:their pw|message",
        "The versions were merged, with one clash.", clash, "&Save With Them|The Password &on Disk",
        clash);
    row("another password, cancelled", "save", pin, "their pw", "&Merge|cancel", "doc.stxt was", {},
        "Cancel", {});
    row("undone: the next Save asks again", "undo", note, "pw", "&Merge|message", clean, both,
        "Cancel", {});
    row("a zero byte on disk: refused", "save", QByteArray("user: ann\n\0\n", 12), "pw",
        "&Merge|message", "doc.stxt cannot be merged: a version holds a zero byte", {}, "Cancel",
        {});
}

void tst_SecretsDocument::merge()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, theirs);
    QFETCH(QByteArray, password);
    QFETCH(QString, answers);
    QFETCH(QString, told);
    QFETCH(QString, merged);
    QFETCH(QString, nextSave);
    QFETCH(QByteArray, written);
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString ours = QStringLiteral("user: ann\npin: 9999\nurl: x\nnote: old\n");
    QVERIFY(encryptToFile(doc, "user: ann\npin: 1234\nurl: x\nnote: old\n", "pw"));
    auto window = openDocument(doc, ours);
    if (how == "lock") {
        QVERIFY(window->lock());
        auto* field = window->findChild<QWidget*>("LockPage")->findChild<QWidget*>("slePassword");
        typeText(field, "pw");
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY(!window->isLocked());
    }
    if (theirs.contains('\0')) // which varnisk-cli does not write
        replaceByAnotherWriter(doc, theirs, password);
    else
        QCOMPARE(TestSupport::run(TestSupport::binaryPath("cli/varnisk-cli"),
                                  {"new", doc, "--password-fd", "0", "--force"},
                                  password + '\n' + theirs)
                     .exitCode,
                 0);
    const QByteArray onDisk = readFile(doc);

    ModalScript script;
    answer(script, answers);
    if (how == "close")
        QVERIFY(!window->close());
    else
        trigger(*window, "action_Save");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpected, QStringList());
    QVERIFY2(script.messages.last().startsWith(told), qPrintable(script.messages.last()));
    QCOMPARE(readFile(doc), onDisk);
    QCOMPARE(editor(*window)->toPlainText(), merged.isNull() ? ours : merged);
    QVERIFY(editor(*window)->document()->isModified());
    QCOMPARE(editor(*window)->textCursor().blockNumber(), merged.contains("<<<") ? 1 : 0);
    if (how == "undo") {
        editor(*window)->undo();
        QCOMPARE(editor(*window)->toPlainText(), ours);
    }

    ModalScript saving;
    answer(saving, nextSave);
    trigger(*window, "action_Save");
    QVERIFY(saving.waitUntilDone());
    QCOMPARE(saving.unexpected, QStringList());
    if (written.isNull())
        QCOMPARE(readFile(doc), onDisk);
    else
        QCOMPARE(decryptFile(doc, nextSave.contains("on Disk") ? password : "pw"), written);
}

void tst_SecretsDocument::conflictCopies_data()
{
    // Beside doc.stxt ("a", "b", "c" under "pw") a sync program left `copy` ("a", "c", "d" under
    // `password`), among names that are no conflicting copies of it. Opening the document asks,
    // naming that copy alone; the answers, what the editor shows then (null: the open was
    // cancelled), and the answer when the next Save offers to remove the copy (empty: not asked).
    QTest::addColumn<QString>("copy");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("removal");
    const QString merged = "a\nb\nc\nd\n"; // b, which the copy lacks, comes back
    const QString dropbox = "doc (laptop's conflicted copy 2024-01-31).stxt";
    QTest::newRow("Syncthing, merged, removed")
        << "doc.sync-conflict-20240131-235959-ABCD123.stxt" << QByteArray("pw") << "&Merge|message"
        << merged << "&Yes";
    QTest::newRow("Nextcloud, another password, kept")
        << "doc (conflicted copy 2024-01-31 235959).stxt" << QByteArray("copy pw")
        << "&Merge|pw:copy pw|message" << merged << "&No";
    QTest::newRow("Dropbox, opened alone")
        << dropbox << QByteArray("pw") << "Open the &Document Alone"
        << "a\nb\nc\n"
        << "";
    QTest::newRow("cancelled") << dropbox << QByteArray("pw") << "Cancel" << QString() << "";
}

void tst_SecretsDocument::conflictCopies()
{
    QFETCH(QString, copy);
    QFETCH(QByteArray, password);
    QFETCH(QString, answers);
    QFETCH(QString, shown);
    QFETCH(QString, removal);
    const QString doc = path(QStringLiteral("doc.stxt"));
    QVERIFY(encryptToFile(doc, "a\nb\nc\n", "pw"));
    QVERIFY(encryptToFile(path(copy), "a\nc\nd\n", password));
    for (const QString decoy : {"doc (copy).stxt", "doc.sync-conflict-2024.stxt",
                                "other (conflicted copy 2024-01-31 235959).stxt"})
        QVERIFY(encryptToFile(path(decoy), "x\n", "pw"));
    auto window = show(QStringLiteral("kept"));
    ModalScript script;
    script.password("pw");
    answer(script, answers);
    window->openFile(doc);
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(script.messages.first().section('\n', 1), copy);
    QCOMPARE(editor(*window)->toPlainText(), shown.isNull() ? "kept" : shown);
    if (shown.isNull())
        return;

    ModalScript saving;
    answer(saving, removal);
    trigger(*window, "action_Save");
    QVERIFY(saving.waitUntilDone());
    QCOMPARE(saving.unexpected, QStringList());
    QCOMPARE(decryptFile(doc, "pw"), shown.toUtf8());
    QCOMPARE(QFileInfo::exists(path(copy)), removal != "&Yes");
}

void tst_SecretsDocument::backups_data()
{
    // doc.stxt holds "first" under "pw"; the window saves "second", then "third" in one of
    // these ways; what doc.backup.stxt holds afterwards (null: there is none).
    QTest::addColumn<QString>("thirdSave");
    QTest::addColumn<QByteArray>("backup");
    QTest::newRow("two saves: the version before the last") << "save" << QByteArray("second");
    QTest::newRow("a failed save keeps the backup") << "fails" << QByteArray("first");
    // No copy may keep the secrets under the old password.
    QTest::newRow("a password change leaves none") << "new password" << QByteArray();
    // Another writer's file under another password is no backup; ours stays.
    QTest::newRow("overwriting theirs keeps ours") << "overwrite theirs" << QByteArray("first");
    // Without the password, which the lock wiped, nothing can be told to be under another.
    QTest::newRow("locked, overwriting theirs keeps ours")
        << "locked overwrite theirs" << QByteArray("first");
    QTest::newRow("switched off") << "backups off" << QByteArray();
    // The save holds all the same, and says so.
    QTest::newRow("a folder at its name") << "folder" << QByteArray();
}

void tst_SecretsDocument::backups()
{
    QFETCH(QString, thirdSave);
    QFETCH(QByteArray, backup);
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString kept = path(QStringLiteral("doc.backup.stxt"));
    QSettings("Nembrow", "Varnisk").setValue("Settings/backups", thirdSave != "backups off");
    QVERIFY(encryptToFile(doc, "first", "pw"));
    auto window = openDocument(doc, QStringLiteral("second"));
    trigger(*window, "action_Save");
    QCOMPARE(decryptFile(kept, "pw"), thirdSave == "backups off" ? QByteArray() : "first");

    edit(*window, thirdSave == "fails" ? QString(100000, QLatin1Char('x')) : "third");
    ModalScript script;
    std::unique_ptr<TestSupport::FileSizeLimit> limit;
    if (thirdSave == "fails") {
        script.message();
        limit = std::make_unique<TestSupport::FileSizeLimit>(50000);
    } else if (thirdSave.endsWith("overwrite theirs")) {
        // Locked, only closing saves: "Save changes?" Yes.
        if (thirdSave.startsWith("locked")) {
            trigger(*window, "action_Lock");
            script.answer(QMessageBox::Yes);
        }
        replaceByAnotherWriter(doc);
        script.press(QStringLiteral("&Overwrite"));
    } else if (thirdSave == "folder") {
        QVERIFY(QFile::remove(kept) && QDir().mkdir(kept));
    } else if (thirdSave == "new password") {
        script.replaceFile(doc).passwords("new", "new");
    }
    if (thirdSave.startsWith("locked"))
        window->close();
    else
        trigger(*window, thirdSave == "new password" ? "action_Save_As" : "action_Save");
    QVERIFY(script.waitUntilDone());
    limit.reset();
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(decryptFile(doc, thirdSave == "new password" ? "new" : "pw"),
             thirdSave == "fails" ? QByteArray("second") : "third");
    QCOMPARE(decryptFile(kept, "pw"), backup);
    QCOMPARE(QFileInfo(kept).isFile(), !backup.isNull());
    QCOMPARE(window->statusBar()->currentMessage().startsWith("Saved, but the backup"),
             thirdSave == "folder");
    QSettings("Nembrow", "Varnisk").remove("Settings/backups");
}

void tst_SecretsDocument::endingSignals_data()
{
    // A real editor with a modified document is ended by a real signal, also while Decrypt File
    // waits on a pipe writing a named temporary file (as on file systems without unnamed ones):
    // its cancel cannot be seen before the pipe gives more, so once the wait is over the file is
    // removed. The editor ends by that signal, the document is untouched, the recovery file (its
    // own, the user's only) holds the edits under the document's password (read with openssl
    // after its header), and the settings are written. What opening it offers is recovery()'s
    // matter, but another editor opening it is offered it once, and not the file another user
    // put beside it. A lost display takes the same way, and ends with exit status 1.
    QTest::addColumn<int>("signalNumber"); // 0: the display goes
    QTest::addColumn<int>("second");       // another signal at once
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM") << int(SIGTERM) << 0 << "";
    QTest::newRow("SIGHUP") << int(SIGHUP) << 0 << "";
    QTest::newRow("SIGTERM and SIGHUP at once: a logout") << int(SIGTERM) << int(SIGHUP) << "";
    QTest::newRow("Ctrl-C during Decrypt File") << int(SIGINT) << 0 << "decrypting";
    // The recovery file is then the sealed image as it is.
    QTest::newRow("SIGTERM, locked") << int(SIGTERM) << 0 << "locked";
    QTest::newRow("two editors of one document") << int(SIGTERM) << 0 << "two editors";
    QTest::newRow("the X server ends") << 0 << 0 << "xvfb";
    QTest::newRow("its X client is killed") << 0 << 0 << "windowkill";
}

void tst_SecretsDocument::endingSignals()
{
    QFETCH(int, signalNumber);
    QFETCH(int, second);
    QFETCH(QString, how);
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString fifo = path(QStringLiteral("in.sdat"));
    const QString out = path(QStringLiteral("out"));
    QVERIFY(encryptToFile(doc, "line one\nline two\n", "pw"));
    QVERIFY(encryptToFile(path(QStringLiteral("whole.sdat")), QByteArray(1 << 20, 'p'), "pw"));
    QVERIFY(QDir().mkdir(out) && mkfifo(qPrintable(fifo), 0600) == 0);
    const int writer = ::open(qPrintable(fifo), O_RDWR);
    const auto closeWriter = qScopeGuard([writer] { ::close(writer); });
    const QByteArray start = readFile(path(QStringLiteral("whole.sdat"))).left(60 * 1024);
    QCOMPARE(write(writer, start.constData(), start.size()), ssize_t(start.size()));
    const QByteArray before = readFile(doc);
    const QString settingsFile = settings.filePath(QStringLiteral("Nembrow/Varnisk.conf"));
    QFile::remove(settingsFile);
    QProcess xvfb;
    if (how == "xvfb" || how == "windowkill") {
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForReadyRead(20000));
        qputenv("DISPLAY", ':' + xvfb.readLine().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }

    QProcess probe, other;
    qputenv("VARNISK_PROBE_NAMED_TEMPORARIES", "1");
    QCOMPARE(startProbe(probe, doc, {dir->path(), settings.path()}), QByteArray("ok"));
    QVERIFY(how != "two editors" || startProbe(other, doc, {dir->path()}) == "ok");
    qunsetenv("VARNISK_PROBE_NAMED_TEMPORARIES");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (how == "decrypting") {
        probe.write("decrypt " + fifo.toUtf8() + ' ' + out.toUtf8() + "/plain\n");
        QCOMPARE(reply(probe), QByteArray("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::entries(out).isEmpty(), 10000);
    } else if (how == "locked") {
        probe.write("lock\n");
        QCOMPARE(reply(probe), QByteArray("ok"));
    }
    // Another user's file beside it, named as a recovery file of the document.
    if (geteuid() == 0) {
        const QString planted = path(QStringLiteral(".doc.stxt.elsewhere-7-x.recovery"));
        TestSupport::writeFile(planted, RecoveryFile::compose({}, readFile(doc)));
        QCOMPARE(chown(qPrintable(planted), 4242, 4242), 0);
    }
    const qint64 pids[] = {probe.processId(), other.processId()};
    // Both signals reach it before it runs again; which comes first is the system's choice.
    if (second != 0)
        QCOMPARE(kill(pid_t(pids[0]), SIGSTOP), 0);
    for (const qint64 pid : pids) {
        if (pid != 0 && signalNumber != 0)
            QCOMPARE(kill(pid_t(pid), signalNumber), 0);
    }
    if (second != 0)
        QVERIFY(kill(pid_t(pids[0]), second) == 0 && kill(pid_t(pids[0]), SIGCONT) == 0);
    if (how == "xvfb")
        xvfb.terminate();
    else if (how == "windowkill") // XKillClient
        QCOMPARE(TestSupport::run("xdotool", {"search", "--name", "doc.stxt", how}).exitCode, 0);
    for (QProcess* editor : {&probe, &other})
        QVERIFY(editor->state() == QProcess::NotRunning || editor->waitForFinished(20000));
    QCOMPARE(probe.exitStatus(), signalNumber == 0 ? QProcess::NormalExit : QProcess::CrashExit);
    QVERIFY(probe.exitCode() == (signalNumber == 0 ? 1 : signalNumber) ||
            (second != 0 && probe.exitCode() == second));
    QCOMPARE(TestSupport::entries(out), QStringList());
    QVERIFY(QFileInfo::exists(settingsFile));
    QCOMPARE(readFile(doc), before);
    // Each editor's own: the user's only, for its owner only.
    const QStringList recoveries = recoveryFiles(dir->path());
    QCOMPARE(recoveries.filter(QStringLiteral("-%1-").arg(pids[1])).size(), pids[1] == 0 ? 0 : 1);
    QCOMPARE(recoveries.filter(QStringLiteral("-%1-").arg(pids[0])).size(), 1);
    const QString recoveryFile = path(recoveries.filter(QStringLiteral("-%1-").arg(pids[0]))[0]);
    struct stat info = {};
    QCOMPARE(stat(qPrintable(recoveryFile), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));
    QCOMPARE(info.st_uid, geteuid() == 0 ? uid_t(65534) : geteuid());
    const QByteArray recovery = readFile(recoveryFile);
    QVERIFY(recovery.startsWith("Varnisk recovery file\nbase: "));
    const OpensslStream::Record record =
        OpensslStream::open(recovery.mid(recovery.indexOf("\n\n") + 2), "pw");
    QCOMPARE(record.data, QByteArray("edited\nline two\n"));
    if (how.isEmpty()) {
        QProcess next;
        QCOMPARE(startProbe(next, doc, {dir->path()}).count("Varnisk was ended"), 1);
    }
}

void tst_SecretsDocument::outOfMemoryKeepsEdits_data()
{
    // A real editor holding unsaved edits opens a 26 MiB document under a memory limit of this
    // much more than it uses: too little for the editor to show the text (which Qt cannot fail
    // gracefully), or even for the decrypted copy. Either is told, and the edits stay.
    QTest::addColumn<int>("roomMiB");
    QTest::newRow("no room to show the text") << 160;
    QTest::newRow("no room to decrypt") << 36;
}

void tst_SecretsDocument::outOfMemoryKeepsEdits()
{
    QFETCH(int, roomMiB);
#ifdef VARNISK_SANITIZER_BUILD
    QSKIP("the sanitizers' allocator never fails an allocation and breaks under a memory limit");
#endif
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString big = path(QStringLiteral("big.stxt"));
    QVERIFY(encryptToFile(doc, "line one\nline two\n", "pw"));
    QVERIFY(encryptToFile(big, QByteArray("line of text\n").repeated(2 << 20), "pw"));
    QProcess probe;
    qputenv("MALLOC_ARENA_MAX", "1"); // no arena of its own for each thread
    QCOMPARE(startProbe(probe, doc), QByteArray("ok"));
    qunsetenv("MALLOC_ARENA_MAX");
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(probe.processId()));
    const QByteArray used = status.mid(status.indexOf("VmSize:") + 7, 20).simplified();
    const rlim_t limit =
        used.left(used.indexOf(' ')).toULongLong() * 1024 + (rlim_t(roomMiB) << 20);
    const struct rlimit limits = {limit, limit};
    QCOMPARE(prlimit(probe.processId(), RLIMIT_AS, &limits, nullptr), 0);

    probe.write("open " + big.toUtf8() + "\ntitle\nsave\n");
    QVERIFY2(reply(probe).contains("message box: Not enough memory"), "not told");
    QCOMPARE(reply(probe), QByteArray("ok Varnisk - doc.stxt*"));
    QCOMPARE(reply(probe), QByteArray("ok"));
    QCOMPARE(decryptFile(doc, "pw"), QByteArray("edited\nline two\n"));
}

void tst_SecretsDocument::recovery_data()
{
    // A window had "recovered" unsaved in doc.stxt ("saved" under "pw") when it wrote its
    // recovery file (as the signal path does); then, before the document is opened again:
    // nothing, another writer replaced the document before the recovery was written (the offer
    // says so, and the save asks), the document was saved after it, the recovery file is under
    // another password, or something planted where it is or is to be. What opening answers
    // (buttons, "message" (Ok), or empty: nothing asked), and what the window shows then.
    // Opening leaves the recovery files as they are; the next save removes those it told of.
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* name, const char* meanwhile, const char* answer,
                        const char* shown) {
        QTest::newRow(name) << QString(meanwhile) << QString(answer) << QString(shown);
    };
    row("declined: kept until the next save", "", "Open &Saved Version", "saved");
    row("based on an older version: said, and the save asks", "replaced before", "&Recover",
        "recovered");
    row("older than the document: not offered", "saved after", "", "saved");
    row("another password: told, left alone", "other password", "message", "saved");
    row("another user's: not offered", "chown", "", "saved");
    row("a link to one: not offered", "link", "", "saved");
    row("larger than any document: not offered", "sparse", "", "saved");
    row("two of them: the newer first", "older one", "&Next Recovery File|&Recover", "older");
    // What holds the usual name keeps nothing from being kept, nor opens it to others.
    row("a folder at its name: written beside it", "folder", "&Recover", "recovered");
    row("a 0666 file at its name: 0600", "0666", "&Recover", "recovered");
}

void tst_SecretsDocument::recovery()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, answer);
    QFETCH(QString, shown);
    if (meanwhile == "chown" && geteuid() != 0)
        QSKIP("only root can make a file of another user's");
    const QString doc = path(QStringLiteral("doc.stxt"));
    const QString usual = RecoveryFile::pathFor(doc);
    QVERIFY(encryptToFile(doc, "saved", "pw"));
    if (meanwhile == "folder")
        QVERIFY(QDir().mkdir(usual));
    else if (meanwhile == "0666")
        QVERIFY(TestSupport::run("install", {"-m", "666", "/dev/null", usual}).exitCode == 0);
    {
        auto window = openDocument(doc, QStringLiteral("older"));
        if (meanwhile == "older one") {
            QVERIFY(window->writeRecovery() &&
                    QFile::rename(usual, path(".doc.stxt.elsewhere-7-x.recovery")));
        }
        edit(*window, QStringLiteral("recovered"));
        if (meanwhile == "replaced before")
            QVERIFY(encryptToFile(doc, "saved", "pw"));
        QVERIFY(window->writeRecovery());
        editor(*window)->document()->setModified(false);
    }
    const QStringList written = recoveryFiles(dir->path());
    const QString recoveryFile = path(written.filter(QStringLiteral("-%1-").arg(getpid()))
                                          .filter(QRegularExpression("-[0-9a-z]+\\.recovery$"))
                                          .constLast());
    QCOMPARE(recoveryFile == usual, meanwhile != "folder");
    if (meanwhile == "saved after") {
        const struct timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 10, 0}};
        QCOMPARE(utimensat(AT_FDCWD, qPrintable(doc), later, 0), 0);
    } else if (meanwhile == "other password") {
        const QByteArray bytes = readFile(recoveryFile);
        QVERIFY(encryptToFile(path(QStringLiteral("other")), "x", "other"));
        TestSupport::writeFile(recoveryFile, bytes.left(bytes.indexOf("\n\n") + 2) +
                                                 readFile(path(QStringLiteral("other"))));
    } else if (meanwhile == "chown") {
        QCOMPARE(chown(qPrintable(recoveryFile), 4242, 4242), 0);
    } else if (meanwhile == "link") {
        QVERIFY(QFile::rename(recoveryFile, path("kept")) &&
                QFile::link(path("kept"), recoveryFile));
    } else if (meanwhile == "sparse") {
        QCOMPARE(truncate(qPrintable(recoveryFile), qint64(300) << 20), 0);
    }
    struct stat info = {};
    QVERIFY(lstat(qPrintable(recoveryFile), &info) == 0 &&
            (S_ISLNK(info.st_mode) || (info.st_mode & 0777) == 0600));
    const QByteArray recoveryBytes = readFile(recoveryFile);

    auto window = show();
    ModalScript opening;
    opening.password("pw");
    for (const QString& button : answer.split('|', Qt::SkipEmptyParts))
        button == "message" ? opening.message() : opening.press(button);
    window->openFile(doc);
    QVERIFY(opening.waitUntilDone());
    QCOMPARE(opening.unexpected, QStringList());
    QCOMPARE(opening.messages.join(' ').contains("another version"),
             meanwhile == "replaced before");
    QCOMPARE(editor(*window)->toPlainText(), shown);
    QCOMPARE(editor(*window)->document()->isModified(), shown != "saved");
    QCOMPARE(readFile(recoveryFile), recoveryBytes);

    ModalScript saving;
    if (meanwhile == "replaced before")
        saving.press(QStringLiteral("&Overwrite"));
    trigger(*window, "action_Save");
    QVERIFY(saving.waitUntilDone());
    QCOMPARE(saving.unexpected, QStringList());
    QCOMPARE(saving.messages.size(), meanwhile == "replaced before" ? 1 : 0);
    // Told of, or this process's own, it goes; what is not the user's file stays.
    const bool stays = meanwhile == "chown" || meanwhile == "link";
    QCOMPARE(QFileInfo::exists(recoveryFile), stays);
    QCOMPARE(recoveryFiles(dir->path()).size(), int(stays));
}

QTEST_MAIN(tst_SecretsDocument)
#include "tst_secretsdocument.moc"
