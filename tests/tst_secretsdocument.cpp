// Secrets documents end to end: New, Open, Save, Save As and the "Save changes?" question,
// driven through the real dialogs on real files.
#include "CryptoFile.h"
#include "ModalScript.h"
#include "SecureStringHolder.h"
#include "SmallTmpfs.h"
#include "TestSupport.h"
#include "Varnisk.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString wrongPasswordPrefix =
    QStringLiteral("Wrong password or corrupted File!\nError-Message: ");

void setPassword(SecureStringHolder& holder, const QByteArray& utf8)
{
    holder.string().assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

// Writes a document the way another Varnisk would.
void writeDocument(const QString& path, const QByteArray& text, const QByteArray& password)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QByteArray copy = text;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QVERIFY(CryptoFile::encrypt(buffer, static_cast<quint64>(text.size()), path, holder).ok());
}

QByteArray readDocument(const QString& path, const QByteArray& password, bool* ok)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QFile file(path);
    QByteArray plain;
    *ok = file.open(QIODevice::ReadOnly) && CryptoFile::decrypt(file, plain, holder).ok();
    return plain;
}

// The smallest stream the format writes for `length` bytes of data.
int smallestStream(int length)
{
    return 18 + 16 * ((40 + 1 + length) / 16 + 1);
}

ino_t inode(const QString& path)
{
    struct stat info = {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

class tst_SecretsDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void saveAndOpenRoundTrip_data();
    void saveAndOpenRoundTrip();
    void saveOnNamedDocumentWritesAtOnce();
    void openFailures_data();
    void openFailures();
    void wrongPasswordKeepsDocument();
    void zeroByteCutsText();
    void unwritableTargetKeepsEverything();
    void failedSaveKeepsOldDocument_data();
    void failedSaveKeepsOldDocument();
    void failedFolderSyncIsReported();
    void saveInPlaceInLockedFolder();
    void saveThroughLink();
    void cancelSteps_data();
    void cancelSteps();
    void newAsksOnlyWhenModified();
    void saveChangesYesOnNamedSavesThenProceeds();
    void saveChangesYesOnUnnamedRunsSaveAs();
    void saveChangesYesOnUnnamedCancelled_data();
    void saveChangesYesOnUnnamedCancelled();
    void closeWithYesOnUnnamedSavesFirst();
    void failedSaveAsksAgain();
    void directoryNamedLikeDocument();
    void typedNameGetsSuffix();

private:
    std::unique_ptr<Varnisk> makeWindow();
    void saveAs(Varnisk& window, const QString& path, const QByteArray& password);
    QStringList open(Varnisk& window, const QString& path, const QByteArray& password);
    static QPlainTextEdit* editor(Varnisk& window);
    static void checkDialogsCleared(Varnisk& window);
    static void trigger(Varnisk& window, const char* action);
    static void edit(Varnisk& window, const QString& text);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QTemporaryDir> settingsDir;
};

void tst_SecretsDocument::initTestCase()
{
    // A test below provokes a failed write through the file-size limit.
    std::signal(SIGXFSZ, SIG_IGN);
}

void tst_SecretsDocument::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    TestSupport::isolateSettings(*settingsDir);
    dir = std::make_unique<QTemporaryDir>();
}

void tst_SecretsDocument::cleanup()
{
    dir.reset();
    settingsDir.reset();
}

std::unique_ptr<Varnisk> tst_SecretsDocument::makeWindow()
{
    auto window = std::make_unique<Varnisk>(nullptr);
    window->show();
    return window;
}

QPlainTextEdit* tst_SecretsDocument::editor(Varnisk& window)
{
    return window.findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
}

void tst_SecretsDocument::trigger(Varnisk& window, const char* action)
{
    window.findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

void tst_SecretsDocument::edit(Varnisk& window, const QString& text)
{
    // setPlainText resets the modified flag; a user's edit sets it.
    editor(window)->setPlainText(text);
    editor(window)->document()->setModified(true);
}

void tst_SecretsDocument::checkDialogsCleared(Varnisk& window)
{
    for (QLineEdit* field : window.findChildren<QLineEdit*>()) {
        if (field->objectName() == QLatin1String("slePassword") ||
            field->objectName() == QLatin1String("sleConfirm"))
            QVERIFY2(field->text().isEmpty(), "a password field was not cleared");
    }
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
}

void tst_SecretsDocument::saveAs(Varnisk& window, const QString& path, const QByteArray& password)
{
    ModalScript script;
    script.chooseFile(path).passwords(password, password);
    trigger(window, "action_Save_As");
    QVERIFY(script.waitUntilDone());
    QVERIFY(TestSupport::waitFor([&]() { return window.statusBar()->currentMessage().isEmpty(); }));
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(QLatin1Char('|'))));
}

QStringList tst_SecretsDocument::open(Varnisk& window, const QString& path,
                                      const QByteArray& password)
{
    // The message boxes that follow are answered and reported.
    ModalScript script;
    script.password(password);
    window.openFile(path);
    script.waitUntilDone();
    QTest::qWait(100);
    return script.unexpectedMessages;
}

void tst_SecretsDocument::saveAndOpenRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("empty document") << QString() << QByteArray("pw");
    QTest::newRow("utf-8 text") << QStringLiteral("Grüße, 密码 €😀\nsecond line\ttab")
                                << QByteArray("short");
    QTest::newRow("password longer than 15 bytes")
        << QStringLiteral("bank: 1234") << QByteArray("correct horse battery staple");
    QTest::newRow("non-ascii password") << QStringLiteral("mail: x") << QByteArray("ä€😀pass");
    QTest::newRow("empty password") << QStringLiteral("no password") << QByteArray();
}

void tst_SecretsDocument::saveAndOpenRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, password);
    const QString path = dir->filePath(QStringLiteral("secrets.stxt"));
    {
        auto window = makeWindow();
        editor(*window)->setPlainText(text);
        editor(*window)->document()->setModified(true);
        saveAs(*window, path, password);
        QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - secrets.stxt"));
        QVERIFY(!editor(*window)->document()->isModified());
        checkDialogsCleared(*window);
    }
    // The bytes on disk: the editor's UTF-8 text under that password, sized as the format says.
    bool ok = false;
    QCOMPARE(readDocument(path, password, &ok), text.toUtf8());
    QVERIFY(ok);
    const qint64 size = QFileInfo(path).size();
    const qint64 length = text.toUtf8().size();
    bool sizeFits = false;
    for (int prefix = 1; prefix <= 32; ++prefix)
        sizeFits = sizeFits || size == 18 + 16 * ((40 + prefix + length) / 16 + 1);
    QVERIFY2(sizeFits, qPrintable(QString::number(size)));

    auto window = makeWindow();
    QCOMPARE(open(*window, path, password), QStringList());
    QCOMPARE(editor(*window)->toPlainText(), text);
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - secrets.stxt"));
    checkDialogsCleared(*window);

    // New empties the document and forgets its name.
    trigger(*window, "action_New");
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName"));
    QVERIFY(editor(*window)->toPlainText().isEmpty());
}

void tst_SecretsDocument::saveOnNamedDocumentWritesAtOnce()
{
    const QString path = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, "old", "pw");
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    edit(*window, QStringLiteral("new text"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt*"));
    ModalScript script; // no dialog may appear
    trigger(*window, "action_Save");
    QTest::qWait(50);
    QVERIFY(script.unexpected.isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt"));
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
    bool ok = false;
    QCOMPARE(readDocument(path, "pw", &ok), QByteArray("new text"));
    QVERIFY(ok);
}

void tst_SecretsDocument::openFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty file") << QByteArray() << "File-Version < 4!";
    QTest::newRow("version 3") << QByteArray("\x03\x01", 2) + QByteArray(64, 'x')
                               << "File-Version < 4!";
    QTest::newRow("version 6") << QByteArray("\x06\x01", 2) + QByteArray(64, 'x')
                               << "File-Version > 5: this file was written by a newer version "
                                  "of Varnisk!";
    QTest::newRow("truncated in salt") << QByteArray("\x05\x01", 2) + QByteArray(7, 'x')
                                       << wrongPasswordPrefix + "unexpected end of input";
    QTest::newRow("partial block") << QByteArray("\x05\x01", 2) + QByteArray(16 + 40, 'x')
                                   << wrongPasswordPrefix + "error decrypting final block";
}

void tst_SecretsDocument::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QString path = dir->filePath(QStringLiteral("bad.stxt"));
    TestSupport::writeFile(path, content);
    auto window = makeWindow();
    editor(*window)->setPlainText(QStringLiteral("kept"));
    editor(*window)->document()->setModified(false);
    QCOMPARE(open(*window, path, "pw"), QStringList({message}));
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName"));
    checkDialogsCleared(*window);
}

void tst_SecretsDocument::wrongPasswordKeepsDocument()
{
    const QString path = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, QByteArray(5000, 's'), "right");
    const QByteArray before = TestSupport::readFile(path);
    auto window = makeWindow();
    editor(*window)->setPlainText(QStringLiteral("kept"));
    editor(*window)->document()->setModified(false);
    const QStringList messages = open(*window, path, "wrong");
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages.first() == QLatin1String("Wrong password!") ||
                 messages.first().startsWith(wrongPasswordPrefix),
             qPrintable(messages.first()));
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("kept"));
    checkDialogsCleared(*window);
    QCOMPARE(TestSupport::readFile(path), before);

    // A tampered body never opens either.
    QByteArray tampered = before;
    tampered[tampered.size() - 40] = static_cast<char>(tampered[tampered.size() - 40] ^ 0x01);
    TestSupport::writeFile(path, tampered);
    const QStringList again = open(*window, path, "right");
    QCOMPARE(again.size(), 1);
    QVERIFY2(again.first() == QLatin1String("Wrong password!") ||
                 again.first().startsWith(wrongPasswordPrefix),
             qPrintable(again.first()));
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("kept"));
}

void tst_SecretsDocument::zeroByteCutsText()
{
    const QString path = dir->filePath(QStringLiteral("zero.stxt"));
    writeDocument(path, QByteArray("before\0after", 12), "pw");
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("before"));
}

void tst_SecretsDocument::unwritableTargetKeepsEverything()
{
    // /proc takes no new files, for root too.
    const QString path = QStringLiteral("/proc/varnisk-test.stxt");
    auto window = makeWindow();
    edit(*window, QStringLiteral("text"));
    ModalScript script;
    QString message;
    script.chooseFile(path).passwords("pw", "pw").message(&message);
    trigger(*window, "action_Save_As");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(message, QStringLiteral("File could not be opened for writing!"));
    QVERIFY(editor(*window)->document()->isModified());
    QVERIFY(!QFileInfo::exists(path));

    if (geteuid() != 0) {
        const QString readOnly = dir->filePath(QStringLiteral("ro.stxt"));
        writeDocument(readOnly, "original", "pw");
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
        const QByteArray before = TestSupport::readFile(readOnly);
        auto other = makeWindow();
        QCOMPARE(open(*other, readOnly, "pw"), QStringList());
        edit(*other, QStringLiteral("changed"));
        ModalScript save;
        save.message(&message);
        trigger(*other, "action_Save");
        QVERIFY(save.done());
        QCOMPARE(message, QStringLiteral("File could not be opened for writing!"));
        QCOMPARE(TestSupport::readFile(readOnly), before);
    }
}

void tst_SecretsDocument::failedSaveKeepsOldDocument_data()
{
    QTest::addColumn<int>("failAt");    // the first byte of the new file that cannot be written
    QTest::addColumn<bool>("fullDisk"); // a full tmpfs, or else a file-size limit
    const int size = smallestStream(100000);
    for (bool fullDisk : {false, true}) {
        const char* medium = fullDisk ? "full disk" : "size limit";
        QTest::addRow("%s, first byte", medium) << 0 << fullDisk;
        QTest::addRow("%s, middle", medium) << size / 2 << fullDisk;
        QTest::addRow("%s, last 16 KiB", medium) << size - 8000 << fullDisk;
        QTest::addRow("%s, last byte", medium) << size - 1 << fullDisk;
    }
}

void tst_SecretsDocument::failedSaveKeepsOldDocument()
{
    QFETCH(int, failAt);
    QFETCH(bool, fullDisk);
    SmallTmpfs disk;
    if (fullDisk && !disk.isMounted())
        QSKIP(qPrintable(disk.skipReason()));
    const QString folder = fullDisk ? disk.filePath(QString()) : dir->path();
    const QString path = QDir(folder).filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, "the only copy", "pw");
    const QByteArray before = TestSupport::readFile(path);
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    edit(*window, QString(100000, QLatin1Char('x')));
    if (fullDisk)
        QVERIFY(disk.fillLeaving(failAt / 4096));
    const QStringList entries = TestSupport::entries(folder);

    ModalScript script;
    QString message;
    script.message(&message);
    {
        std::unique_ptr<TestSupport::FileSizeLimit> limit;
        if (!fullDisk)
            limit = std::make_unique<TestSupport::FileSizeLimit>(failAt);
        trigger(*window, "action_Save");
    }
    QVERIFY(script.done());
    const QString reason = fullDisk ? "No space left on device" : "File too large";
    QCOMPARE(message, "Error writing File!\nError-Message: " + reason);
    QCOMPARE(TestSupport::readFile(path), before);
    QCOMPARE(TestSupport::entries(folder), entries);
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt*"));

    // Closing the window still asks, so the edits are not lost.
    ModalScript closing;
    closing.answer(QMessageBox::Cancel);
    QVERIFY(!window->close());
    QCOMPARE(closing.messages, QStringList({"Save changes?"}));
}

void tst_SecretsDocument::failedFolderSyncIsReported()
{
    // The new file is in place, but not surely on disk: said so, and the document stays modified.
    const QString path = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, "old", "pw");
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    edit(*window, QStringLiteral("new"));
    const AtomicFile::SystemCalls real = AtomicFile::systemCalls();
    AtomicFile::systemCalls().syncFolder = [](int) {
        errno = EIO;
        return -1;
    };
    ModalScript script;
    QString message;
    script.message(&message);
    trigger(*window, "action_Save");
    AtomicFile::systemCalls() = real;
    QVERIFY2(message.startsWith("Error writing File!\nError-Message: Input/output error\nThe new "
                                "file is in place"),
             qPrintable(message));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt*"));
    bool ok = false;
    QCOMPARE(readDocument(path, "pw", &ok), QByteArray("new"));
}

void tst_SecretsDocument::saveInPlaceInLockedFolder()
{
    // A document the user may write, in a folder where they may not create files: saved in
    // place, and a failed in-place write puts the old bytes back.
    VARNISK_AS_NOBODY();
    const QString folder = dir->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/doc.stxt");
    writeDocument(path, "old text", "pw");
    const ino_t original = inode(path);
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&folder]() {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly))
        QSKIP("this file system lets us create files in a read-only folder");

    edit(*window, QStringLiteral("new text"));
    ModalScript none;
    trigger(*window, "action_Save");
    QVERIFY2(none.unexpectedMessages.isEmpty(), qPrintable(none.unexpectedMessages.join('|')));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt"));
    bool ok = false;
    QCOMPARE(readDocument(path, "pw", &ok), QByteArray("new text"));
    QVERIFY(ok);
    QCOMPARE(inode(path), original);

    const QByteArray before = TestSupport::readFile(path);
    edit(*window, QString(100000, QLatin1Char('x')));
    ModalScript failing;
    QString message;
    failing.message(&message);
    {
        const TestSupport::FileSizeLimit limit(50000);
        trigger(*window, "action_Save");
    }
    QCOMPARE(message, QStringLiteral("Error writing File!\nError-Message: File too large"));
    QCOMPARE(TestSupport::readFile(path), before);
    QCOMPARE(TestSupport::entries(folder), QStringList({"doc.stxt"}));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt*"));
}

void tst_SecretsDocument::saveThroughLink()
{
    // A document opened through a link is saved where it lives; the link stays.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("real")));
    const QString real = dir->filePath(QStringLiteral("real/doc.stxt"));
    const QString link = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(real, "old", "pw");
    QVERIFY(QFile::link(real, link));
    auto window = makeWindow();
    QCOMPARE(open(*window, link, "pw"), QStringList());
    edit(*window, QStringLiteral("new"));
    trigger(*window, "action_Save");
    QVERIFY(QFileInfo(link).isSymLink());
    bool ok = false;
    QCOMPARE(readDocument(real, "pw", &ok), QByteArray("new"));
    QVERIFY(ok);
}

void tst_SecretsDocument::cancelSteps_data()
{
    QTest::addColumn<QString>("flow");
    QTest::newRow("Save As: file dialog") << "saveas-file";
    QTest::newRow("Save As: password dialog") << "saveas-password";
    QTest::newRow("Open: file dialog") << "open-file";
    QTest::newRow("Open: password dialog") << "open-password";
}

void tst_SecretsDocument::cancelSteps()
{
    QFETCH(QString, flow);
    const QString path = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, "on disk", "pw");
    const QByteArray before = TestSupport::readFile(path);
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    edit(*window, QStringLiteral("edited"));
    ModalScript script;
    if (flow == QLatin1String("saveas-file")) {
        script.cancel();
        trigger(*window, "action_Save_As");
    } else if (flow == QLatin1String("saveas-password")) {
        script.chooseFile(dir->filePath(QStringLiteral("other.stxt"))).cancel();
        trigger(*window, "action_Save_As");
    } else if (flow == QLatin1String("open-file")) {
        script.answer(QMessageBox::No).cancel();
        trigger(*window, "action_Open");
    } else {
        script.answer(QMessageBox::No).chooseFile(path).cancel();
        trigger(*window, "action_Open");
    }
    QVERIFY(script.waitUntilDone());
    QTest::qWait(50);
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(QLatin1Char('|'))));
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("edited"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt*"));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("other.stxt"))));
    QCOMPARE(TestSupport::readFile(path), before);
    checkDialogsCleared(*window);

    // The document's own password is still the one it was opened with.
    trigger(*window, "action_Save");
    bool ok = false;
    QCOMPARE(readDocument(path, "pw", &ok), QByteArray("edited"));
    QVERIFY(ok);
}

void tst_SecretsDocument::newAsksOnlyWhenModified()
{
    auto window = makeWindow();
    {
        ModalScript none;
        trigger(*window, "action_New"); // not modified: no question
        QTest::qWait(30);
        QVERIFY(none.unexpected.isEmpty());
    }

    edit(*window, QStringLiteral("draft"));
    ModalScript cancel;
    cancel.answer(QMessageBox::Cancel);
    trigger(*window, "action_New");
    QVERIFY(cancel.done());
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("draft"));

    ModalScript discard;
    discard.answer(QMessageBox::No);
    trigger(*window, "action_New");
    QVERIFY(discard.done());
    QVERIFY(editor(*window)->toPlainText().isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName"));
}

void tst_SecretsDocument::saveChangesYesOnNamedSavesThenProceeds()
{
    const QString path = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, "v1", "pw");
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    edit(*window, QStringLiteral("v2"));
    ModalScript script;
    script.answer(QMessageBox::Yes);
    trigger(*window, "action_New");
    QVERIFY(script.done());
    QVERIFY(editor(*window)->toPlainText().isEmpty());
    bool ok = false;
    QCOMPARE(readDocument(path, "pw", &ok), QByteArray("v2"));
    QVERIFY(ok);
}

void tst_SecretsDocument::saveChangesYesOnUnnamedRunsSaveAs()
{
    const QString path = dir->filePath(QStringLiteral("fresh.stxt"));
    auto window = makeWindow();
    edit(*window, QStringLiteral("never saved before"));
    ModalScript script;
    script.answer(QMessageBox::Yes).chooseFile(path).passwords("secret pw", "secret pw");
    trigger(*window, "action_New");
    QVERIFY(script.waitUntilDone());
    QTest::qWait(50);
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(QLatin1Char('|'))));
    bool ok = false;
    QCOMPARE(readDocument(path, "secret pw", &ok), QByteArray("never saved before"));
    QVERIFY(ok);
    // New went on once the document was safe.
    QVERIFY(editor(*window)->toPlainText().isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName"));
    checkDialogsCleared(*window);
}

void tst_SecretsDocument::saveChangesYesOnUnnamedCancelled_data()
{
    QTest::addColumn<bool>("atPassword");
    QTest::newRow("file dialog cancelled") << false;
    QTest::newRow("password dialog cancelled") << true;
}

void tst_SecretsDocument::saveChangesYesOnUnnamedCancelled()
{
    QFETCH(bool, atPassword);
    const QString path = dir->filePath(QStringLiteral("fresh.stxt"));
    auto window = makeWindow();
    edit(*window, QStringLiteral("draft"));
    ModalScript script;
    script.answer(QMessageBox::Yes);
    if (atPassword)
        script.chooseFile(path);
    script.cancel();
    trigger(*window, "action_New");
    QVERIFY(script.waitUntilDone());
    QTest::qWait(50);
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(QLatin1Char('|'))));
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("draft"));
    QVERIFY(editor(*window)->document()->isModified());
    QVERIFY(!QFileInfo::exists(path));
    checkDialogsCleared(*window);
}

void tst_SecretsDocument::closeWithYesOnUnnamedSavesFirst()
{
    const QString path = dir->filePath(QStringLiteral("closing.stxt"));
    auto window = makeWindow();
    edit(*window, QStringLiteral("keep me"));
    {
        ModalScript script;
        script.answer(QMessageBox::Yes).chooseFile(path).passwords("pw", "pw");
        QVERIFY(window->close());
        QVERIFY(script.done());
        bool ok = false;
        QCOMPARE(readDocument(path, "pw", &ok), QByteArray("keep me"));
        QVERIFY(ok);
    }

    // Cancelling the password keeps the window open.
    auto other = makeWindow();
    edit(*other, QStringLiteral("keep me too"));
    ModalScript cancel;
    cancel.answer(QMessageBox::Yes).chooseFile(dir->filePath(QStringLiteral("x.stxt"))).cancel();
    QVERIFY(!other->close());
    QVERIFY(cancel.done());
    QVERIFY(other->isVisible());
    QCOMPARE(editor(*other)->toPlainText(), QStringLiteral("keep me too"));
}

void tst_SecretsDocument::failedSaveAsksAgain()
{
    const QString path = dir->filePath(QStringLiteral("doc.stxt"));
    writeDocument(path, "v1", "pw");
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList());
    edit(*window, QStringLiteral("v2"));
    // Replace the file by a directory: the save cannot replace it.
    QFile::remove(path);
    QDir().mkdir(path);
    ModalScript script;
    QString failure;
    script.answer(QMessageBox::Yes).message(&failure).answer(QMessageBox::Cancel);
    trigger(*window, "action_New");
    QVERIFY(script.done());
    QCOMPARE(failure, QStringLiteral("File could not be opened for writing!"));
    QCOMPARE(script.messages, QStringList({"Save changes?", failure, "Save changes?"}));
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("v2"));
}

void tst_SecretsDocument::directoryNamedLikeDocument()
{
    const QString path = dir->filePath(QStringLiteral("x.stxt"));
    QDir().mkdir(path);
    auto window = makeWindow();
    QCOMPARE(open(*window, path, "pw"), QStringList({"File could not be opened for reading!"}));
    checkDialogsCleared(*window);
}

void tst_SecretsDocument::typedNameGetsSuffix()
{
    auto window = makeWindow();
    edit(*window, QStringLiteral("t"));
    saveAs(*window, dir->filePath(QStringLiteral("nosuffix")), "pw");
    QVERIFY(QFileInfo::exists(dir->filePath(QStringLiteral("nosuffix.stxt"))));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - nosuffix.stxt"));
}

QTEST_MAIN(tst_SecretsDocument)
#include "tst_secretsdocument.moc"
