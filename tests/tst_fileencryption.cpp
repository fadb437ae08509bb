// Encrypt File, Decrypt File (.sdat and .simg) and opening files by their suffix, driven
// through the real dialogs on real files.
#include "EditorWindow.h"
#include "ImageFormat.h"
#include "ModalScript.h"
#include "ProgressDialog.h"
#include "TestSupport.h"
#include "Varnisk.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::randomBytes;

// A named pipe that a thread of its own feeds with `data`, 8 KiB every 35 ms, as a slow device
// would: reading all of 300 KB from it takes over a second. Whoever reads may stop early.
class SlowPipe
{
public:
    SlowPipe(const QString& path, const QByteArray& data)
    {
        const QByteArray name = QFile::encodeName(path);
        if (mkfifo(name.constData(), 0600) != 0)
            qWarning("mkfifo failed");
        // Open for writing before any reader comes, as a program feeding it would be: a FIFO
        // without a writer reads as empty. O_RDWR opens it without waiting for a reader.
        fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        feeder = std::thread([this, data]() { feed(data); });
    }
    ~SlowPipe()
    {
        stop = true;
        feeder.join();
    }

private:
    void feed(const QByteArray& data)
    {
        using namespace std::chrono_literals;
        for (int done = 0; done < data.size() && !stop;) {
            const ssize_t written =
                write(fd, data.constData() + done, qMin(8192, data.size() - done));
            if (written > 0)
                done += static_cast<int>(written);
            // A full pipe: the reader is slow, or has gone.
            std::this_thread::sleep_for(written > 0 ? 35ms : 5ms);
        }
        close(fd); // the reader sees the end
    }

    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread feeder;
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

    void encryptRoundTrip_data();
    void encryptRoundTrip();
    void encryptStopsEarly_data();
    void encryptStopsEarly();
    void decryptProposal_data();
    void decryptProposal();
    void decryptFailuresKeepTarget_data();
    void decryptFailuresKeepTarget();
    void imageSignatures_data();
    void imageSignatures();
    void openBySuffix_data();
    void openBySuffix();
    void writeFailureIsReported_data();
    void writeFailureIsReported();
    void longOperation_data();
    void longOperation();

private:
    QTemporaryDir settings;
    std::unique_ptr<QTemporaryDir> dir;
    QString secrets;
};

void tst_FileEncryption::initTestCase()
{
    // Write failures are provoked through the file-size limit; a pipe's reader may go early.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
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

void tst_FileEncryption::encryptRoundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("empty file") << 0 << QByteArray("pw");
    QTest::newRow("several pieces") << 300000 << QByteArray("ä€😀 long password here");
}

void tst_FileEncryption::encryptRoundTrip()
{
    QFETCH(int, size);
    QFETCH(QByteArray, password);
    const QByteArray data = randomBytes(size);
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
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("message");
    QTest::newRow("target dialog cancelled") << "target" << QString();
    QTest::newRow("password cancelled") << "password" << QString();
    QTest::newRow("target is the source through a link")
        << QStringLiteral("link") << "The target is the source file itself!";
}

void tst_FileEncryption::encryptStopsEarly()
{
    QFETCH(QString, how);
    QFETCH(QString, message);
    const QString source = dir->filePath(QStringLiteral("same.txt"));
    const QString link = QDir(secrets).filePath(QStringLiteral("same.txt.sdat"));
    TestSupport::writeFile(source, "precious");
    if (how == "link")
        QVERIFY(QFile::link(source, link));
    const QStringList before = TestSupport::entries(secrets);
    auto window = EditorWindow::show();
    ModalScript script;
    QString shown;
    script.chooseFile(source);
    if (how == "target")
        script.cancel();
    else if (how == "password")
        script.chooseFile(link).cancel();
    else
        script.replaceFile(link).message(&shown);
    EditorWindow::trigger(*window, "action_Encrypt");
    QVERIFY(script.waitUntilDone());
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty()); // no password asked after a refusal
    QVERIFY2(shown.startsWith(message), qPrintable(shown));
    QCOMPARE(TestSupport::readFile(source), QByteArray("precious"));
    QCOMPARE(TestSupport::entries(secrets), before);
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::decryptProposal_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QString>("proposal");
    QTest::newRow("data") << "report.pdf.sdat" << QByteArray("pdf bytes") << "report.pdf";
    QTest::newRow("png, capital suffix") << "pic.SDAT" << QByteArray("\x89PNGdata", 8) << "pic.png";
    // Only the file's own suffix goes, however long it is.
    QTest::newRow("three-letter suffix")
        << "photo.enc" << QByteArray("\xFF\xD8\xFF", 3) << "photo.jpg";
    QTest::newRow("five-letter suffix")
        << "holiday.image" << QByteArray("\x89PNG", 4) << "holiday.png";
}

void tst_FileEncryption::decryptProposal()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, plain);
    QFETCH(QString, proposal);
    const QString encrypted = dir->filePath(name);
    QVERIFY(TestSupport::encryptToFile(encrypted, plain, "pw"));
    auto window = EditorWindow::show();
    QString proposed;
    ModalScript script;
    script.password("pw").noteProposal(&proposed);
    window->decryptFile(encrypted);
    QVERIFY(script.waitUntilDone());
    QCOMPARE(proposed, dir->filePath(proposal));

    ModalScript save;
    QString message;
    save.password("pw").chooseFile(dir->filePath(proposal)).message(&message);
    window->decryptFile(encrypted);
    QVERIFY(save.waitUntilDone());
    QCOMPARE(message, QStringLiteral("File successfully decrypted!"));
    QCOMPARE(TestSupport::readFile(dir->filePath(proposal)), plain);
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::decryptFailuresKeepTarget_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // empty: a real stream, tried with a wrong password
    QTest::addColumn<QString>("expected");   // prefix of the message
    QTest::addColumn<bool>("asksTarget");
    QTest::newRow("wrong password") << "x.sdat" << QByteArray() << "Wrong password" << true;
    QTest::newRow("version 3") << "x.sdat" << QByteArray("\x03\x01", 2) + QByteArray(64, 'x')
                               << "File-Version < 4!" << true;
    QTest::newRow("version 6, image") << "x.simg" << QByteArray("\x06\x01", 2) + QByteArray(64, 'x')
                                      << "File-Version > 5" << false;
    QTest::newRow("truncated in salt")
        << "x.sdat" << QByteArray("\x05\x01\x00", 3)
        << "Wrong password or corrupted File!\nError-Message: unexpected end of input" << true;
    QTest::newRow("unknown image format")
        << "x.simg" << QByteArray("BMxx") << "Image format not recognized!" << false;
    QTest::newRow("target is the encrypted file")
        << "x.sdat" << QByteArray("self") << "The target is the source file itself!" << true;
}

void tst_FileEncryption::decryptFailuresKeepTarget()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(bool, asksTarget);
    const QString encrypted = dir->filePath(name);
    const bool stream = content.isEmpty() || content == "self" || content.startsWith("BM");
    if (stream)
        QVERIFY(TestSupport::encryptToFile(
            encrypted, content.isEmpty() ? randomBytes(50000) : content, "right"));
    else
        TestSupport::writeFile(encrypted, content);
    const QString target = content == "self" ? encrypted : dir->filePath(QStringLiteral("x"));
    TestSupport::writeFile(dir->filePath(QStringLiteral("x")), "existing file");
    const QStringList before = TestSupport::entries(dir->path());
    const QByteArray encryptedBefore = TestSupport::readFile(encrypted);
    auto window = EditorWindow::show();
    ModalScript script;
    QString message;
    script.password(content.isEmpty() ? "wrong" : "right");
    if (asksTarget)
        script.replaceFile(target);
    script.message(&message);
    window->openFile(encrypted);
    QVERIFY(script.waitUntilDone());
    QVERIFY2(message.startsWith(expected), qPrintable(message));
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty());
    // No unverified plaintext on disk; the old files are untouched; nothing else left over.
    QCOMPARE(TestSupport::readFile(dir->filePath(QStringLiteral("x"))),
             QByteArray("existing file"));
    QCOMPARE(TestSupport::readFile(encrypted), encryptedBefore);
    QCOMPARE(TestSupport::entries(dir->path()), before);
    QVERIFY(EditorWindow::cleared(*window));
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

void tst_FileEncryption::openBySuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("outcome"); // message text, or the status-bar text of a dialog
    QTest::newRow("two dots") << "backup.tar.stxt" << true << "Opening: backup.tar.stxt";
    QTest::newRow("sdat") << "data.sdat" << true << "Decrypting: data.sdat";
    QTest::newRow("simg") << "image.simg" << true << "Decrypting: image.simg";
    QTest::newRow("capitals") << "DOC.STXT" << true << "File type not supported!";
    QTest::newRow("no dot") << "README" << true << "File type not supported!";
    QTest::newRow("missing, odd suffix") << "gone.xyz" << false << "File does not exsist!";
}

void tst_FileEncryption::openBySuffix()
{
    QFETCH(QString, name);
    QFETCH(bool, create);
    QFETCH(QString, outcome);
    const QString path = dir->filePath(name);
    if (create)
        TestSupport::writeFile(path, "x");
    auto window = EditorWindow::show();
    QString seen;
    ModalScript script;
    script.then([&seen, window = window.get()](QWidget* widget) {
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            seen = box->text();
            box->accept();
        } else {
            seen = window->statusBar()->currentMessage();
            static_cast<QDialog*>(widget)->reject();
        }
    });
    window->openFile(path);
    QVERIFY(script.waitUntilDone());
    QCOMPARE(seen, outcome);
    QVERIFY(EditorWindow::cleared(*window));
}

void tst_FileEncryption::writeFailureIsReported_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("failAt"); // the first byte of the output that cannot be written
    QTest::addColumn<QString>("message");
    const QByteArray data = randomBytes(100000);
    const int stream = 18 + 16 * ((40 + 1 + data.size()) / 16 + 1);
    const QString writing = QStringLiteral("Error writing File!\nError-Message: File too large");
    const QString saving = QStringLiteral("Error saving file!\nError-Message: File too large");
    QTest::newRow("encrypt, last byte") << "encrypt" << data << stream - 1 << writing;
    QTest::newRow("decrypt, middle") << "decrypt" << data << 50000 << saving;
    QTest::newRow("image, last byte") << "image"
                                      << "\x89PNG" + data << data.size() + 3 << saving;
}

void tst_FileEncryption::writeFailureIsReported()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, plain);
    QFETCH(int, failAt);
    QFETCH(QString, message);
    const QString source = dir->filePath(QStringLiteral("source"));
    const QString target = dir->filePath(QStringLiteral("target"));
    if (operation == "encrypt")
        TestSupport::writeFile(source, plain);
    else
        QVERIFY(TestSupport::encryptToFile(source + (operation == "image" ? ".simg" : ".sdat"),
                                           plain, "pw"));
    TestSupport::writeFile(target, "existing file");
    const QStringList before = TestSupport::entries(dir->path());

    auto window = EditorWindow::show();
    ModalScript script;
    QString shown;
    if (operation == "encrypt")
        script.chooseFile(source).replaceFile(target).passwords("pw", "pw").message(&shown);
    else
        script.password("pw").replaceFile(target).message(&shown);
    {
        const TestSupport::FileSizeLimit limit(failAt);
        if (operation == "encrypt")
            EditorWindow::trigger(*window, "action_Encrypt");
        else
            window->decryptFile(source + (operation == "image" ? ".simg" : ".sdat"));
        QVERIFY(script.waitUntilDone());
    }
    QCOMPARE(shown, message);
    QCOMPARE(TestSupport::readFile(target), QByteArray("existing file"));
    QCOMPARE(TestSupport::entries(dir->path()), before);
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
        pipe = std::make_unique<SlowPipe>(source, TestSupport::readFile(stream));
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
