// Encrypt File, Decrypt File (.sdat and .simg) and opening files by their suffix, driven
// through the real dialogs on real files.
#include "CryptoFile.h"
#include "ImageFormat.h"
#include "ModalScript.h"
#include "ProgressDialog.h"
#include "SecureStringHolder.h"
#include "TestSupport.h"
#include "Varnisk.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString wrongPasswordPrefix =
    QStringLiteral("Wrong password or corrupted File!\nError-Message: ");

void setPassword(SecureStringHolder& holder, const QByteArray& utf8)
{
    holder.string().assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

void encryptBytes(const QString& path, const QByteArray& plain, const QByteArray& password)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QByteArray copy = plain;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QVERIFY(CryptoFile::encrypt(buffer, static_cast<quint64>(plain.size()), path, holder).ok());
}

QByteArray decryptBytes(const QString& path, const QByteArray& password, bool* ok)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QFile file(path);
    QByteArray plain;
    *ok = file.open(QIODevice::ReadOnly) && CryptoFile::decrypt(file, plain, holder).ok();
    return plain;
}

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

QByteArray sample(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + 7) & 0xff);
    return data;
}

} // namespace

class tst_FileEncryption : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void encryptProposesSecretsDirectory();
    void encryptRoundTrip_data();
    void encryptRoundTrip();
    void encryptRefusesSameFile();
    void encryptCancelledPassword();
    void decryptProposesStemAndRefusesSelf();
    void decryptDataFailuresKeepTarget_data();
    void decryptDataFailuresKeepTarget();
    void imageSignatures_data();
    void imageSignatures();
    void imageDecrypt_data();
    void imageDecrypt();
    void openBySuffix_data();
    void openBySuffix();
    void writeFailureIsReported_data();
    void writeFailureIsReported();
    void longOperation_data();
    void longOperation();

private:
    std::unique_ptr<Varnisk> makeWindow();
    static void trigger(Varnisk& window, const char* action);
    static void checkCleared(Varnisk& window);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QTemporaryDir> settingsDir;
    QString secrets;
};

void tst_FileEncryption::initTestCase()
{
    // Write failures are provoked through the file-size limit; a pipe's reader may go early.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void tst_FileEncryption::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    TestSupport::isolateSettings(*settingsDir);
    dir = std::make_unique<QTemporaryDir>();
    secrets = dir->filePath(QStringLiteral("secrets"));
    QDir().mkdir(secrets);
    QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"))
        .setValue(QStringLiteral("Settings/secretsPath"), secrets);
}

void tst_FileEncryption::cleanup()
{
    dir.reset();
    settingsDir.reset();
}

std::unique_ptr<Varnisk> tst_FileEncryption::makeWindow()
{
    auto window = std::make_unique<Varnisk>(nullptr);
    window->show();
    return window;
}

void tst_FileEncryption::trigger(Varnisk& window, const char* action)
{
    window.findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

void tst_FileEncryption::checkCleared(Varnisk& window)
{
    for (QLineEdit* field : window.findChildren<QLineEdit*>()) {
        if (field->objectName() == QLatin1String("slePassword") ||
            field->objectName() == QLatin1String("sleConfirm"))
            QVERIFY2(field->text().isEmpty(), "a password field was not cleared");
    }
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
}

void tst_FileEncryption::encryptProposesSecretsDirectory()
{
    const QString source = dir->filePath(QStringLiteral("report.pdf"));
    TestSupport::writeFile(source, "pdf");
    auto window = makeWindow();
    QString proposal;
    QString filter;
    ModalScript script;
    script.chooseFile(source).noteProposal(&proposal, &filter);
    trigger(*window, "action_Encrypt");
    QVERIFY(script.done());
    QCOMPARE(proposal, QDir(secrets).filePath(QStringLiteral("report.pdf.sdat")));
    QCOMPARE(filter, QStringLiteral("sdat-File (*.sdat)"));
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty()); // no password dialog after a cancelled target
}

void tst_FileEncryption::encryptRoundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("empty file") << 0 << QByteArray("pw");
    QTest::newRow("4097 bytes") << 4097 << QByteArray("ä€😀 long password here");
    QTest::newRow("1 MiB") << (1 << 20) << QByteArray("pw");
}

void tst_FileEncryption::encryptRoundTrip()
{
    QFETCH(int, size);
    QFETCH(QByteArray, password);
    const QByteArray data = sample(size);
    const QString source = dir->filePath(QStringLiteral("data.bin"));
    const QString target = QDir(secrets).filePath(QStringLiteral("data.bin.sdat"));
    TestSupport::writeFile(source, data);
    auto window = makeWindow();
    ModalScript script;
    QString message;
    script.chooseFile(source).chooseFile(target).passwords(password, password).message(&message);
    trigger(*window, "action_Encrypt");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(message, QStringLiteral("File successfully encrypted!"));
    QVERIFY(
        TestSupport::waitFor([&]() { return window->statusBar()->currentMessage().isEmpty(); }));
    checkCleared(*window);
    QCOMPARE(TestSupport::readFile(source), data);
    bool ok = false;
    QCOMPARE(decryptBytes(target, password, &ok), data);
    QVERIFY(ok);

    // And back through Decrypt File, into a file that already exists.
    const QString output = dir->filePath(QStringLiteral("restored.bin"));
    TestSupport::writeFile(output, "old content");
    ModalScript back;
    back.chooseFile(target)
        .password(password)
        .then([output](QWidget* widget) {
            // Qt's own dialog asks before replacing; answer through the accept path.
            auto* dialog = static_cast<QFileDialog*>(widget);
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            ModalScript::enterFileName(dialog, output);
            static_cast<QDialog*>(dialog)->accept();
        })
        .message(&message);
    trigger(*window, "action_Decrypt");
    QVERIFY(back.waitUntilDone());
    QCOMPARE(message, QStringLiteral("File successfully decrypted!"));
    QCOMPARE(TestSupport::readFile(output), data);
    checkCleared(*window);
}

void tst_FileEncryption::encryptRefusesSameFile()
{
    const QString source = dir->filePath(QStringLiteral("same.txt"));
    const QString link = dir->filePath(QStringLiteral("link.sdat"));
    TestSupport::writeFile(source, "precious");
    QVERIFY(QFile::link(source, link));
    auto window = makeWindow();
    ModalScript script;
    QString message;
    script.chooseFile(source)
        .then([link](QWidget* widget) {
            auto* dialog = static_cast<QFileDialog*>(widget);
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            ModalScript::enterFileName(dialog, link);
            static_cast<QDialog*>(dialog)->accept();
        })
        .message(&message);
    trigger(*window, "action_Encrypt");
    QVERIFY(script.waitUntilDone());
    QVERIFY2(message.startsWith(QLatin1String("The target is the source file itself!")),
             qPrintable(message));
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty()); // no password asked
    QCOMPARE(TestSupport::readFile(source), QByteArray("precious"));
    checkCleared(*window);
}

void tst_FileEncryption::encryptCancelledPassword()
{
    const QString source = dir->filePath(QStringLiteral("a.txt"));
    const QString target = QDir(secrets).filePath(QStringLiteral("a.txt.sdat"));
    TestSupport::writeFile(source, "a");
    auto window = makeWindow();
    ModalScript script;
    script.chooseFile(source).chooseFile(target).cancel();
    trigger(*window, "action_Encrypt");
    QVERIFY(script.waitUntilDone());
    QTest::qWait(30);
    QVERIFY(script.unexpected.isEmpty());
    QVERIFY(!QFileInfo::exists(target));
    checkCleared(*window);
}

void tst_FileEncryption::decryptProposesStemAndRefusesSelf()
{
    const QString encrypted = dir->filePath(QStringLiteral("report.pdf.sdat"));
    encryptBytes(encrypted, "pdf bytes", "pw");
    const QByteArray before = TestSupport::readFile(encrypted);
    auto window = makeWindow();
    QString proposal;
    ModalScript script;
    // The file name is asked for before the password has been tried.
    script.password("not even checked").noteProposal(&proposal);
    window->decryptFile(encrypted);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Decrypting: report.pdf.sdat"));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(proposal, dir->filePath(QStringLiteral("report.pdf")));
    QVERIFY(
        TestSupport::waitFor([&]() { return window->statusBar()->currentMessage().isEmpty(); }));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("report.pdf"))));

    // The encrypted file itself as the output is refused before anything is written.
    ModalScript self;
    QString message;
    self.password("pw")
        .then([encrypted](QWidget* widget) {
            auto* dialog = static_cast<QFileDialog*>(widget);
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            ModalScript::enterFileName(dialog, encrypted);
            static_cast<QDialog*>(dialog)->accept();
        })
        .message(&message);
    window->decryptFile(encrypted);
    QVERIFY(self.waitUntilDone());
    QVERIFY2(message.startsWith(QLatin1String("The target is the source file itself!")),
             qPrintable(message));
    QCOMPARE(TestSupport::readFile(encrypted), before);
    checkCleared(*window);
}

void tst_FileEncryption::decryptDataFailuresKeepTarget_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: a real stream, tried with a wrong password
    QTest::addColumn<QString>("expected");   // prefix of the message
    QTest::newRow("wrong password") << QByteArray() << "Wrong password";
    QTest::newRow("version 3") << QByteArray("\x03\x01", 2) + QByteArray(64, 'x')
                               << "File-Version < 4!";
    QTest::newRow("version 6") << QByteArray("\x06\x01", 2) + QByteArray(64, 'x')
                               << "File-Version > 5";
    QTest::newRow("truncated in salt")
        << QByteArray("\x05\x01\x00", 3) << wrongPasswordPrefix + "unexpected end of input";
}

void tst_FileEncryption::decryptDataFailuresKeepTarget()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString encrypted = dir->filePath(QStringLiteral("x.sdat"));
    if (content.isEmpty())
        encryptBytes(encrypted, sample(50000), "right");
    else
        TestSupport::writeFile(encrypted, content);
    const QString target = dir->filePath(QStringLiteral("x"));
    TestSupport::writeFile(target, "existing file");
    auto window = makeWindow();
    ModalScript script;
    QString message;
    script.password("wrong")
        .then([target](QWidget* widget) {
            auto* dialog = static_cast<QFileDialog*>(widget);
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            ModalScript::enterFileName(dialog, target);
            static_cast<QDialog*>(dialog)->accept();
        })
        .message(&message);
    window->openFile(encrypted);
    QVERIFY(script.waitUntilDone());
    QVERIFY2(message.startsWith(expected), qPrintable(message));
    // No unverified plaintext on disk; the old file is untouched; nothing else left over.
    QCOMPARE(TestSupport::readFile(target), QByteArray("existing file"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList({"x", "x.sdat"}));
    QVERIFY(
        TestSupport::waitFor([&]() { return window->statusBar()->currentMessage().isEmpty(); }));
    checkCleared(*window);
}

void tst_FileEncryption::imageSignatures_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("extension");
    QTest::newRow("gif") << QByteArray("GIF89a...") << ".gif";
    QTest::newRow("gif, three bytes only") << QByteArray("GIF") << ".gif";
    QTest::newRow("jpeg") << QByteArray("\xFF\xD8\xFF\xE0", 4) << ".jpg";
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n", 8) << ".png";
    QTest::newRow("png cut short") << QByteArray("\x89PN", 3) << "";
    QTest::newRow("two bytes") << QByteArray("GI") << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("bmp") << QByteArray("BM6\x00", 4) << "";
}

void tst_FileEncryption::imageSignatures()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, extension);
    const ImageFormat* format = ImageFormat::detect(data);
    QCOMPARE(format ? QString::fromLatin1(format->extension) : QString(), extension);
}

void tst_FileEncryption::imageDecrypt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QString>("proposal");
    QTest::addColumn<QString>("filter");
    QTest::newRow("jpeg") << "photo.simg" << QByteArray("\xFF\xD8\xFF\xE0jpegdata", 12)
                          << "photo.jpg"
                          << "JPG-File (*.jpg)";
    QTest::newRow("png, capital suffix") << "pic.SDAT" << QByteArray("\x89PNGdata", 8) << "pic.png"
                                         << "PNG-File (*.png)";
    QTest::newRow("gif") << "anim.simg" << QByteArray("GIF87a") << "anim.gif"
                         << "GIF-File (*.gif)";
}

void tst_FileEncryption::imageDecrypt()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, plain);
    QFETCH(QString, proposal);
    QFETCH(QString, filter);
    const QString encrypted = dir->filePath(name);
    encryptBytes(encrypted, plain, "pw");
    auto window = makeWindow();
    QString proposed;
    QString proposedFilter;
    ModalScript script;
    script.password("pw").noteProposal(&proposed, &proposedFilter);
    window->decryptFile(encrypted);
    QVERIFY(script.waitUntilDone());
    QCOMPARE(proposed, dir->filePath(proposal));
    QCOMPARE(proposedFilter, filter);

    ModalScript save;
    QString message;
    save.password("pw").chooseFile(dir->filePath(proposal)).message(&message);
    window->decryptFile(encrypted);
    QVERIFY(save.waitUntilDone());
    QCOMPARE(message, QStringLiteral("File successfully decrypted!"));
    QCOMPARE(TestSupport::readFile(dir->filePath(proposal)), plain);
    checkCleared(*window);

    // An unknown image format writes nothing.
    const QString unknown = dir->filePath(QStringLiteral("odd.simg"));
    encryptBytes(unknown, "BMxx", "pw");
    ModalScript odd;
    odd.password("pw").message(&message);
    window->decryptFile(unknown);
    QVERIFY(odd.waitUntilDone());
    QCOMPARE(message, QStringLiteral("Image format not recognized!"));
    QTest::qWait(30);
    QVERIFY(odd.unexpected.isEmpty());
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("odd"))));
    checkCleared(*window);
}

void tst_FileEncryption::openBySuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("outcome"); // message text, or the status-bar text of a dialog
    QTest::newRow("stxt") << "doc.stxt" << true << "Opening: doc.stxt";
    QTest::newRow("two dots") << "backup.tar.stxt" << true << "Opening: backup.tar.stxt";
    QTest::newRow("sdat") << "data.sdat" << true << "Decrypting: data.sdat";
    QTest::newRow("simg") << "image.simg" << true << "Decrypting: image.simg";
    QTest::newRow("capitals") << "DOC.STXT" << true << "File type not supported!";
    QTest::newRow("no dot") << "README" << true << "File type not supported!";
    QTest::newRow("missing") << "gone.stxt" << false << "File does not exsist!";
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
    auto window = makeWindow();
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
    QVERIFY(
        TestSupport::waitFor([&]() { return window->statusBar()->currentMessage().isEmpty(); }));
}

void tst_FileEncryption::writeFailureIsReported_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("failAt"); // the first byte of the output that cannot be written
    QTest::addColumn<QString>("message");
    const QByteArray data = sample(100000);
    const int stream = 18 + 16 * ((40 + 1 + data.size()) / 16 + 1);
    const QString writing = QStringLiteral("Error writing File!\nError-Message: File too large");
    const QString saving = QStringLiteral("Error saving file!\nError-Message: File too large");
    QTest::newRow("encrypt, last byte") << "encrypt" << data << stream - 1 << writing;
    QTest::newRow("decrypt, first byte") << "decrypt" << data << 0 << saving;
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
        encryptBytes(source + (operation == "image" ? ".simg" : ".sdat"), plain, "pw");
    TestSupport::writeFile(target, "existing file");
    const QStringList before = TestSupport::entries(dir->path());

    const auto replaceTarget = [target](QWidget* widget) {
        auto* dialog = static_cast<QFileDialog*>(widget);
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        ModalScript::enterFileName(dialog, target);
        static_cast<QDialog*>(dialog)->accept();
    };
    auto window = makeWindow();
    ModalScript script;
    QString shown;
    if (operation == "encrypt")
        script.chooseFile(source).then(replaceTarget).passwords("pw", "pw").message(&shown);
    else
        script.password("pw").then(replaceTarget).message(&shown);
    {
        const TestSupport::FileSizeLimit limit(failAt);
        if (operation == "encrypt")
            trigger(*window, "action_Encrypt");
        else
            window->decryptFile(source + (operation == "image" ? ".simg" : ".sdat"));
        QVERIFY(script.waitUntilDone());
    }
    QCOMPARE(shown, message);
    QCOMPARE(TestSupport::readFile(target), QByteArray("existing file"));
    QCOMPARE(TestSupport::entries(dir->path()), before);
    checkCleared(*window);
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
    QTest::newRow("encrypt, Cancel") << "encrypt"
                                     << "cancel";
    QTest::newRow("encrypt, Quit") << "encrypt"
                                   << "close";
    QTest::newRow("encrypt, window deleted") << "encrypt"
                                             << "destroy";
    QTest::newRow("decrypt from a pipe, to the end") << "decrypt"
                                                     << "complete";
    QTest::newRow("decrypt from a pipe, Cancel") << "decrypt"
                                                 << "cancel";
    QTest::newRow("image from a pipe, Cancel") << "image"
                                               << "cancel";
}

void tst_FileEncryption::longOperation()
{
    QFETCH(QString, operation);
    QFETCH(QString, ending);
    const QString target = dir->filePath(QStringLiteral("target"));
    TestSupport::writeFile(target, "existing file");
    const QByteArray plain = "\x89PNG" + sample(300000);
    const int threadsBefore = threadCount();
    QString source;
    std::unique_ptr<SlowPipe> pipe;
    if (operation == "encrypt") {
        source = dir->filePath(QStringLiteral("large.bin"));
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(64) << 30));
    } else {
        const QString stream = dir->filePath(QStringLiteral("stream"));
        encryptBytes(stream, plain, "pw");
        source = dir->filePath(operation == "image" ? "large.simg" : "large.sdat");
        pipe = std::make_unique<SlowPipe>(source, TestSupport::readFile(stream));
        QFile::remove(stream);
    }
    const QStringList before = TestSupport::entries(dir->path());
    const QString later = dir->filePath(QStringLiteral("later.sdat"));
    if (ending == "complete")
        encryptBytes(later, "later", "pw");

    auto window = makeWindow();
    const auto replaceTarget = [target](QWidget* widget) {
        auto* dialog = static_cast<QFileDialog*>(widget);
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        ModalScript::enterFileName(dialog, target);
        static_cast<QDialog*>(dialog)->accept();
    };
    ModalScript script;
    if (operation == "encrypt")
        script.chooseFile(source).then(replaceTarget).passwords("pw", "pw");
    else if (operation == "decrypt")
        script.password("pw").then(replaceTarget);
    else
        script.password("pw");
    QString label;
    bool overWindow = false;
    bool closeRefused = false;
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
        if (ending == "complete")
            window->openFile(later); // from outside: waits for the running work
        else
            dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
    });
    QString message;
    QString deferred;
    if (ending == "complete") {
        script.message(&message).then([&](QWidget* widget) {
            deferred = window->statusBar()->currentMessage();
            static_cast<QDialog*>(widget)->reject();
        });
    }
    if (operation == "encrypt")
        trigger(*window, "action_Encrypt");
    else
        window->decryptFile(source);
    QVERIFY(script.waitUntilDone());
    QVERIFY2(overWindow, "the progress dialog is not window-modal over the window");
    const QString name = operation == "encrypt" ? "Encrypting: target" : "Decrypting: large.";
    QVERIFY2(label.startsWith(name), qPrintable(label));
    if (operation == "encrypt")
        QVERIFY2(label.endsWith(" of 64.0 GiB") && !label.contains("\n0 bytes"), qPrintable(label));
    if (window) {
        QVERIFY(TestSupport::waitFor(
            [&]() { return window->statusBar()->currentMessage().isEmpty(); }));
        checkCleared(*window);
    }
    QTest::qWait(50);
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join('|')));
    if (ending == "close") {
        QVERIFY(closeRefused);
        QVERIFY(window->close());
    }
    pipe.reset();
    QCOMPARE(threadCount(), threadsBefore);
    if (ending == "complete") {
        QCOMPARE(message, QStringLiteral("File successfully decrypted!"));
        QCOMPARE(TestSupport::readFile(target), plain);
        QCOMPARE(deferred, QStringLiteral("Decrypting: later.sdat"));
    } else {
        QCOMPARE(TestSupport::readFile(target), QByteArray("existing file"));
        QCOMPARE(TestSupport::entries(dir->path()), before);
    }
}

QTEST_MAIN(tst_FileEncryption)
#include "tst_fileencryption.moc"
