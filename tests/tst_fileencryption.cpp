// Encrypt File, Decrypt File (.sdat and .simg) and opening files by their suffix, driven
// through the real dialogs on real files.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "dialogs/ProgressDialog.h"
#include "files/ImageFormat.h"
#include "mainwindow/Varnisk.h"
#include "messages/OutcomeMessage.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <optional>

namespace {

using Outcome = Result::Outcome;
using Operation = OutcomeMessage::Operation;
using TestSupport::randomBytes;

// A named pipe that a feeder fills with the file `stream`, 8 KiB every 35 ms as a slow device
// would: reading 300 KB from it takes over a second. Whoever reads may stop early. The feeder
// opens it for writing before any reader comes, as a program feeding it would: a FIFO without a
// writer reads as empty. O_RDWR opens it without waiting for a reader.
class SlowPipe
{
public:
    SlowPipe(const QString& path, const QString& stream)
    {
        const char* feed = R"(
import os, sys, time
data = open(sys.argv[2], "rb").read()
os.mkfifo(sys.argv[1])
pipe = os.open(sys.argv[1], os.O_RDWR)
print(flush=True)
for at in range(0, len(data), 8192):
    os.write(pipe, data[at:at + 8192])
    time.sleep(0.035)
)";
        feeder.start(QStringLiteral("/usr/bin/python3"), {"-c", feed, path, stream});
        feeder.waitForReadyRead();
    }
    ~SlowPipe()
    {
        feeder.kill();
        feeder.waitForFinished();
    }

private:
    QProcess feeder;
};

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

} // namespace

class tst_FileEncryption : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { dir.reset(); }

    void encryptRoundTrip();
    void encryptStopsEarly_data();
    void encryptStopsEarly();
    void failuresKeepFiles_data();
    void failuresKeepFiles();
    void wrongPasswordAsksAgain_data();
    void wrongPasswordAsksAgain();
    void imageSignatures_data();
    void imageSignatures();
    void opening_data();
    void opening();
    void longOperation_data();
    void longOperation();

private:
    QTemporaryDir settings;
    std::unique_ptr<QTemporaryDir> dir;
    QString secrets;
};

void tst_FileEncryption::initTestCase()
{
    // Write failures are provoked through the file-size limit.
    std::signal(SIGXFSZ, SIG_IGN);
    TestSupport::isolateSettings(settings);
    // The first window starts what the process keeps for all of them (the D-Bus connection's
    // thread among it), so the thread counts below see only the work's threads come and go.
    EditorWindow::show();
}

void tst_FileEncryption::init()
{
    dir = std::make_unique<QTemporaryDir>();
    secrets = dir->filePath(QStringLiteral("secrets"));
    QDir().mkdir(secrets);
    QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"))
        .setValue(QStringLiteral("Settings/secretsPath"), secrets);
}

void tst_FileEncryption::encryptRoundTrip()
{
    const QByteArray password = "ä€😀 long password here";
    const QByteArray data = randomBytes(300000);
    const QString source = dir->filePath(QStringLiteral("data.bin"));
    // Typed without a suffix: the file gets ".sdat", so that Decrypt File can find it again.
    const QString target = QDir(secrets).filePath(QStringLiteral("data.sdat"));
    TestSupport::writeFile(source, data);
    auto window = EditorWindow::show();
    ModalScript script;
    QString proposal;
    QString message;
    script.chooseFile(source)
        .then([&proposal, this](QWidget* widget) {
            auto* dialog = static_cast<QFileDialog*>(widget);
            proposal = dialog->selectedFiles().value(0);
            ModalScript::enterFileName(dialog, QDir(secrets).filePath(QStringLiteral("data")));
            static_cast<QDialog*>(dialog)->accept();
        })
        .passwords(password, password)
        .message(&message);
    EditorWindow::trigger(*window, "action_Encrypt");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(proposal, QDir(secrets).filePath(QStringLiteral("data.bin.sdat")));
    QCOMPARE(message, QStringLiteral("File successfully encrypted!"));
    QVERIFY(EditorWindow::cleared(*window));
    QCOMPARE(TestSupport::readFile(source), data);
    QCOMPARE(TestSupport::entries(secrets), QStringList{"data.sdat"});
    QCOMPARE(TestSupport::decryptFile(target, password), data);

    // And back through Decrypt File, into a file that already exists.
    const QString output = dir->filePath(QStringLiteral("restored.bin"));
    TestSupport::writeFile(output, "old content");
    ModalScript back;
    back.chooseFile(target).password(password).replaceFile(output).message(&message);
    EditorWindow::trigger(*window, "action_Decrypt");
    QVERIFY(back.waitUntilDone());
    QCOMPARE(message, QStringLiteral("File successfully decrypted!"));
    QCOMPARE(TestSupport::readFile(output), data);
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::encryptStopsEarly_data()
{
    QTest::addColumn<bool>("askedForPassword"); // else the target dialog is cancelled
    QTest::newRow("target dialog cancelled") << false;
    QTest::newRow("password cancelled") << true;
}

void tst_FileEncryption::encryptStopsEarly()
{
    QFETCH(bool, askedForPassword);
    const QString source = dir->filePath(QStringLiteral("same.txt"));
    TestSupport::writeFile(source, "precious");
    auto window = EditorWindow::show();
    ModalScript script;
    script.chooseFile(source);
    if (askedForPassword)
        script.chooseFile(QDir(secrets).filePath(QStringLiteral("same.txt.sdat")));
    script.cancel();
    EditorWindow::trigger(*window, "action_Encrypt");
    QVERIFY(script.waitUntilDone());
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty());
    QCOMPARE(TestSupport::readFile(source), QByteArray("precious"));
    QCOMPARE(TestSupport::entries(secrets), QStringList());
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::failuresKeepFiles_data()
{
    // A ".bin" file is encrypted with Encrypt File, the others are opened.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("sealed");         // the file holds `content` encrypted with "pw"
    QTest::addColumn<QByteArray>("password"); // null: none is asked for
    QTest::addColumn<QString>("target");      // the file chosen to write; empty: none is asked for
    QTest::addColumn<int>("failAt"); // the first byte the file-size limit refuses; -1: none
    QTest::addColumn<QStringList>("messages"); // one of them

    const QByteArray data = randomBytes(100000);
    const int stream = 18 + 16 * ((40 + 1 + data.size()) / 16 + 1);
    const auto told = [](Outcome outcome, const QString& detail, Operation operation) {
        return OutcomeMessage::text({outcome, detail}, operation);
    };
    const QString tooLarge = qt_error_string(EFBIG);
    // A wrong password shows in the digest, or earlier as garbage the stream format refuses.
    QTest::newRow("wrong password")
        << "x.sdat" << data << true << QByteArray("wrong") << "x" << -1
        << QStringList{told(Outcome::WrongPassword, {}, Operation::Decrypt),
                       told(Outcome::Failed, "invalid header data", Operation::Decrypt),
                       told(Outcome::Failed, "error decrypting final block", Operation::Decrypt)};
    QTest::newRow("truncated in salt")
        << "x.sdat" << QByteArray("\x05\x01\x00", 3) << false << QByteArray("pw") << "x" << -1
        << QStringList{told(Outcome::Failed, "unexpected end of input", Operation::Decrypt)};
    QTest::newRow("version 7, image")
        << "x.simg" << QByteArray("\x07\x02", 2) + QByteArray(64, 'x') << false << QByteArray("pw")
        << "" << -1 << QStringList{told(Outcome::VersionTooNew, {}, Operation::Decrypt)};
    QTest::newRow("unknown image format")
        << "x.simg" << QByteArray("BMxx") << true << QByteArray("pw") << "" << -1
        << QStringList{"Image format not recognized!"};
    const QStringList sameFile{"The target is the source file itself!\nChoose another file name, "
                               "so that the source is not overwritten."};
    QTest::newRow("encrypt, target is the source")
        << "x.bin" << data << false << QByteArray() << "x.bin" << -1 << sameFile;
    QTest::newRow("target is the encrypted file")
        << "x.sdat" << QByteArray("self") << true << QByteArray("pw") << "x.sdat" << -1 << sameFile;
    QTest::newRow("encrypt, last byte unwritable")
        << "x.bin" << data << false << QByteArray("pw") << "x" << stream - 1
        << QStringList{told(Outcome::SaveFailed, tooLarge, Operation::Encrypt)};
    QTest::newRow("image, last byte unwritable")
        << "x.simg"
        << "\x89PNG" + data << true << QByteArray("pw") << "x" << data.size() + 3
        << QStringList{told(Outcome::SaveFailed, tooLarge, Operation::Decrypt)};
}

void tst_FileEncryption::failuresKeepFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, sealed);
    QFETCH(QByteArray, password);
    QFETCH(QString, target);
    QFETCH(int, failAt);
    QFETCH(QStringList, messages);
    const QString file = dir->filePath(name);
    if (sealed)
        QVERIFY(TestSupport::encryptToFile(file, content, "pw"));
    else
        TestSupport::writeFile(file, content);
    TestSupport::writeFile(dir->filePath(QStringLiteral("x")), "existing file");
    const QStringList before = TestSupport::entries(dir->path());
    const QByteArray fileBefore = TestSupport::readFile(file);
    auto window = EditorWindow::show();
    ModalScript script;
    QString shown;
    const bool encrypting = name.endsWith(".bin");
    if (encrypting)
        script.chooseFile(file).replaceFile(dir->filePath(target));
    if (encrypting && !password.isNull())
        script.passwords(password, password);
    if (!encrypting)
        script.password(password);
    if (!encrypting && !target.isEmpty())
        script.replaceFile(dir->filePath(target));
    script.message(&shown);
    // A password that may have been mistyped is asked for again (see wrongPasswordAsksAgain).
    if (!encrypting && messages.constFirst().startsWith(QLatin1String("Wrong password")))
        script.cancel();
    {
        std::optional<TestSupport::FileSizeLimit> limit;
        if (failAt >= 0)
            limit.emplace(failAt);
        if (encrypting)
            EditorWindow::trigger(*window, "action_Encrypt");
        else
            window->openFile(file);
        QVERIFY(script.waitUntilDone());
    }
    QVERIFY2(messages.contains(shown), qPrintable(shown));
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty());
    // No unverified plaintext on disk; the old files are untouched; nothing else left over.
    QCOMPARE(TestSupport::readFile(dir->filePath(QStringLiteral("x"))),
             QByteArray("existing file"));
    QCOMPARE(TestSupport::readFile(file), fileBefore);
    QCOMPARE(TestSupport::entries(dir->path()), before);
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::wrongPasswordAsksAgain_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("target");
    QTest::newRow("data file: the target is asked once") << "x.sdat"
                                                         << "x";
    QTest::newRow("image: named once decrypted") << "x.simg"
                                                 << "x.png";
}

void tst_FileEncryption::wrongPasswordAsksAgain()
{
    // A mistyped password does not drop the work: the same file asks again until it is right.
    QFETCH(QString, name);
    QFETCH(QString, target);
    const QByteArray image = "\x89PNG" + randomBytes(1000);
    QVERIFY(TestSupport::encryptToFile(dir->filePath(name), image, "pw"));
    auto window = EditorWindow::show();
    ModalScript script;
    QString shown;
    script.password("wrong");
    if (name.endsWith(".sdat"))
        script.replaceFile(dir->filePath(target));
    script.message().password("pw");
    if (name.endsWith(".simg"))
        script.replaceFile(dir->filePath(target));
    script.message(&shown);
    window->openFile(dir->filePath(name));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(shown, QStringLiteral("File successfully decrypted!"));
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(TestSupport::readFile(dir->filePath(target)), image);
}

void tst_FileEncryption::imageSignatures_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("extension");
    QTest::newRow("gif, three bytes only") << QByteArray("GIF") << ".gif";
    QTest::newRow("jpeg") << QByteArray("\xFF\xD8\xFF\xE0", 4) << ".jpg";
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n", 8) << ".png";
    QTest::newRow("png cut short") << QByteArray("\x89PN", 3) << "";
    QTest::newRow("empty") << QByteArray() << "";
}

void tst_FileEncryption::imageSignatures()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, extension);
    const ImageFormat* format = ImageFormat::detect(data);
    QCOMPARE(format ? QString::fromLatin1(format->extension) : QString(), extension);
}

void tst_FileEncryption::opening_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no such file
    QTest::addColumn<bool>("sealed");        // `content` encrypted, given to Decrypt File
    // A message, the status-bar text at the first dialog, or the name proposed for the
    // decrypted file.
    QTest::addColumn<QString>("outcome");
    const QByteArray x = "x";
    QTest::newRow("two dots") << "backup.tar.stxt" << x << false << "Opening: backup.tar.stxt";
    QTest::newRow("capitals") << "DOC.STXT" << x << false << "File type not supported!";
    QTest::newRow("no dot") << "README" << x << false << "File type not supported!";
    QTest::newRow("missing, odd suffix")
        << "gone.xyz" << QByteArray() << false << "File does not exsist!";
    QTest::newRow("data") << "report.pdf.sdat" << QByteArray("pdf bytes") << true << "report.pdf";
    QTest::newRow("png, capital suffix")
        << "pic.SDAT" << QByteArray("\x89PNGdata", 8) << true << "pic.png";
    // Only the file's own suffix goes, however long it is.
    QTest::newRow("three-letter suffix")
        << "photo.enc" << QByteArray("\xFF\xD8\xFF", 3) << true << "photo.jpg";
    QTest::newRow("five-letter suffix")
        << "holiday.image" << QByteArray("\x89PNG", 4) << true << "holiday.png";
}

void tst_FileEncryption::opening()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, sealed);
    QFETCH(QString, outcome);
    const QString path = dir->filePath(name);
    if (sealed)
        QVERIFY(TestSupport::encryptToFile(path, content, "pw"));
    else if (!content.isNull())
        TestSupport::writeFile(path, content);
    auto window = EditorWindow::show();
    QString seen;
    ModalScript script;
    if (sealed) {
        script.password("pw").noteProposal(&seen);
        outcome = dir->filePath(outcome);
    } else {
        script.then([&seen, window = window.get()](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                seen = box->text();
                box->accept();
            } else {
                seen = window->statusBar()->currentMessage();
                static_cast<QDialog*>(widget)->reject();
            }
        });
    }
    if (sealed)
        window->decryptFile(path);
    else
        window->openFile(path);
    QVERIFY(script.waitUntilDone());
    QCOMPARE(seen, outcome);
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::longOperation_data()
{
    // encrypt: a sparse file of 64 GiB, far more than can be done before the end of the test;
    // decrypt, image: a stream that comes slowly through a named pipe.
    QTest::addColumn<QString>("operation");
    // cancel: Cancel in the progress dialog; complete: wait for the end, while a file to open
    // arrives; close: Quit and close, refused while the work runs, then Cancel; destroy: delete
    // the window.
    QTest::addColumn<QString>("ending");
    QTest::newRow("encrypt, Cancel") << QStringLiteral("encrypt") << "cancel";
    QTest::newRow("encrypt, Quit") << QStringLiteral("encrypt") << "close";
    QTest::newRow("encrypt, window deleted") << QStringLiteral("encrypt") << "destroy";
    QTest::newRow("decrypt from a pipe, to the end") << QStringLiteral("decrypt") << "complete";
    QTest::newRow("decrypt from a pipe, Cancel") << QStringLiteral("decrypt") << "cancel";
    QTest::newRow("image from a pipe, Cancel") << QStringLiteral("image") << "cancel";
    // Ctrl+L in the progress dialog: the work runs on, the lock page takes input meanwhile, and
    // an end while locked shows nothing (no Save dialog) until the window is unlocked.
    QTest::newRow("image from a pipe, locked") << QStringLiteral("image") << "lock";
}

void tst_FileEncryption::longOperation()
{
    QFETCH(QString, operation);
    QFETCH(QString, ending);
    const QString target = dir->filePath(QStringLiteral("target"));
    TestSupport::writeFile(target, "existing file");
    const QByteArray plain = "\x89PNG" + randomBytes(300000);
    const int threadsBefore = threadCount();
    QString source;
    std::unique_ptr<SlowPipe> pipe;
    if (operation == "encrypt") {
        source = dir->filePath(QStringLiteral("large.bin"));
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(64) << 30));
    } else {
        const QString stream = dir->filePath(QStringLiteral("stream"));
        QVERIFY(TestSupport::encryptToFile(stream, plain, "pw"));
        source = dir->filePath(operation == "image" ? "large.simg" : "large.sdat");
        pipe = std::make_unique<SlowPipe>(source, stream);
        QFile::remove(stream);
    }
    const QStringList before = TestSupport::entries(dir->path());
    const QString later = dir->filePath(QStringLiteral("later.sdat"));
    if (ending == "complete")
        QVERIFY(TestSupport::encryptToFile(later, "later", "pw"));

    auto window = EditorWindow::show();
    ModalScript script;
    if (operation == "encrypt")
        script.chooseFile(source).replaceFile(target).passwords("pw", "pw");
    else if (operation == "decrypt")
        script.password("pw").replaceFile(target);
    else
        script.password("pw");
    QString label;
    bool overWindow = false;
    bool closeRefused = false;
    bool lockedWhileRunning = false;
    bool savedWhileLocked = true;
    script.then([&](QWidget* widget) {
        auto* dialog = qobject_cast<ProgressDialog*>(widget);
        QVERIFY2(dialog != nullptr, widget->metaObject()->className());
        overWindow =
            dialog->parentWidget() == window.get() && dialog->windowModality() == Qt::WindowModal;
        label = dialog->findChild<QLabel*>(QStringLiteral("lProgress"))->text();
        if (ending == "destroy") {
            window.reset();
            return;
        }
        if (ending == "close") {
            // Quit from any window, or closing this one: it stays, and so does its work.
            QApplication::closeAllWindows();
            closeRefused = !window->close() && window->isVisible() && dialog->isVisible();
        }
        if (ending == "lock") {
            // The progress dialog is away while the page shows, and back after the unlock.
            auto* unlock = window->findChild<QPushButton*>(QStringLiteral("bUnlock"));
            QTest::keyClick(dialog, Qt::Key_L, Qt::ControlModifier);
            lockedWhileRunning = window->isLocked() && !dialog->isVisible() &&
                                 QApplication::activeModalWidget() == nullptr;
            QTest::mouseClick(unlock, Qt::LeftButton);
            lockedWhileRunning = lockedWhileRunning && !window->isLocked() && dialog->isVisible();
            QTest::keyClick(dialog, Qt::Key_L, Qt::ControlModifier);
            // The work's end, while locked, wipes its password at once.
            QLineEdit* typed = nullptr;
            for (auto* field : window->findChildren<QLineEdit*>(QStringLiteral("slePassword")))
                typed = field->text().isEmpty() ? typed : field;
            static_cast<void>(
                QTest::qWaitFor([typed]() { return typed->text().isEmpty(); }, 10000));
            QTest::qWait(50);
            QTest::mouseClick(unlock, Qt::LeftButton);
        } else if (ending == "complete") {
            window->openFile(later); // from outside: waits for the running work
        } else {
            dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
        }
    });
    QString message;
    QString deferred;
    if (ending == "lock") {
        script
            .then([&](QWidget* widget) {
                savedWhileLocked = window->isLocked();
                auto* dialog = static_cast<QFileDialog*>(widget);
                dialog->setOption(QFileDialog::DontConfirmOverwrite);
                ModalScript::enterFileName(dialog, target);
                static_cast<QDialog*>(dialog)->accept();
            })
            .message(&message);
    }
    if (ending == "complete") {
        script.message(&message).then([&](QWidget* widget) {
            deferred = window->statusBar()->currentMessage();
            static_cast<QDialog*>(widget)->reject();
        });
    }
    if (operation == "encrypt")
        EditorWindow::trigger(*window, "action_Encrypt");
    else
        window->decryptFile(source);
    QVERIFY(script.waitUntilDone());
    QVERIFY2(overWindow, "the progress dialog is not window-modal over the window");
    const QString name = operation == "encrypt" ? "Encrypting: target" : "Decrypting: large.";
    QVERIFY2(label.startsWith(name), qPrintable(label));
    if (operation == "encrypt")
        QVERIFY2(label.endsWith(" of 64.0 GiB") && !label.contains("\n0 bytes"), qPrintable(label));
    if (window)
        QVERIFY(EditorWindow::cleared(*window));
    QTest::qWait(50);
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join('|')));
    if (ending == "close") {
        QVERIFY(closeRefused);
        QVERIFY(window->close());
    }
    pipe.reset();
    QCOMPARE(threadCount(), threadsBefore);
    if (ending == "complete" || ending == "lock") {
        QCOMPARE(message, QStringLiteral("File successfully decrypted!"));
        QCOMPARE(TestSupport::readFile(target), plain);
        if (ending == "complete")
            QCOMPARE(deferred, QStringLiteral("Decrypting: later.sdat"));
        else
            QVERIFY(lockedWhileRunning && !savedWhileLocked);
    } else {
        QCOMPARE(TestSupport::readFile(target), QByteArray("existing file"));
        QCOMPARE(TestSupport::entries(dir->path()), before);
    }
}

QTEST_MAIN(tst_FileEncryption)
#include "tst_fileencryption.moc"
