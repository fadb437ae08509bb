// The lock: sealing and unlocking a document, locking over every kind of dialog, and closing
// a locked window. What locks it (buses, idle, `varnisk --lock`) is tst_locktriggers.py's.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "RecordingWindowSystem.h"
#include "TestSupport.h"
#include "dialogs/FindDialog.h"
#include "dialogs/LockSettings.h"
#include "documents/RecoveryFile.h"
#include "mainwindow/LockController.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace EditorWindow;
using TestSupport::decryptFile;
using TestSupport::readFile;

namespace {

QWidget* lockPage(Varnisk& window)
{
    return window.findChild<QWidget*>(QStringLiteral("LockPage"));
}

// Types the password into the lock page and presses Return, or presses Unlock when the page
// asks for none.
void unlockWith(Varnisk& window, const QByteArray& password)
{
    auto* field = lockPage(window)->findChild<QWidget*>(QStringLiteral("slePassword"));
    if (!field->isVisible()) {
        lockPage(window)->findChild<QPushButton*>(QStringLiteral("bUnlock"))->click();
        return;
    }
    typeText(field, QString::fromUtf8(password));
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents(); // the unlock follows the key
}

// Ctrl+L as typed into whatever has the keyboard in `widget`'s window.
void pressCtrlL(QWidget* widget)
{
    QWidget* target = widget->focusWidget() != nullptr ? widget->focusWidget() : widget;
    QTest::keyClick(target, Qt::Key_L, Qt::ControlModifier);
}

QString lines()
{
    QString text;
    for (int i = 0; i < 300; ++i)
        text += QStringLiteral("line %1 secret-%1\n").arg(i);
    return text;
}

// A way of having a dialog up: the steps that lead to it, and what opens it.
struct DialogRow
{
    const char* name;
    std::function<void(ModalScript&, const QString& dir)> steps;
    std::function<void(Varnisk&, const QString& dir)> start;
};

void triggerLater(Varnisk& window, const char* action)
{
    // Its dialog runs a loop of its own, in which the script answers.
    QTimer::singleShot(0, &window, [&window, action]() { trigger(window, action); });
}

const DialogRow dialogRows[] = {
    {"Save changes?", {}, [](Varnisk& w, const QString&) { triggerLater(w, "action_New"); }},
    {"Open's password, after No to Save changes?",
     [](ModalScript& s, const QString&) { s.answer(QMessageBox::No); },
     [](Varnisk& w, const QString& dir) {
         QTimer::singleShot(0, &w, [&w, dir]() { w.openFile(dir + "/other.stxt"); });
     }},
    {"the recovery offer, after the password of Open",
     [](ModalScript& s, const QString&) { s.answer(QMessageBox::No).password("pw"); },
     [](Varnisk& w, const QString& dir) {
         // other.stxt is older than the recovery file that is ready for it.
         const QString other = dir + "/other.stxt";
         const QDateTime before = QDateTime::currentDateTime().addSecs(-3600);
         QFile(other).open(QIODevice::ReadWrite) &&
             QFile(other).setFileTime(before, QFileDevice::FileModificationTime);
         TestSupport::writeFile(
             RecoveryFile::pathFor(other),
             RecoveryFile::compose(FileIdentity::ofPath(other), TestSupport::readFile(other)));
         QTimer::singleShot(0, &w, [&w, other]() { w.openFile(other); });
     }},
    {"a file dialog", {}, [](Varnisk& w, const QString&) { triggerLater(w, "action_Encrypt"); }},
    {"Passwords don't match! over the Save As password",
     [](ModalScript& s, const QString& dir) {
         s.chooseFile(dir + "/new.stxt").passwords("one", "two");
     },
     [](Varnisk& w, const QString&) { triggerLater(w, "action_Save_As"); }},
    {"Settings", {}, [](Varnisk& w, const QString&) { triggerLater(w, "action_Preferences"); }},
    {"Find, which is not modal",
     {},
     [](Varnisk& w, const QString&) {
         trigger(w, "action_Find");
         auto* find = w.findChild<FindDialog*>();
         find->findChild<QLineEdit*>(QStringLiteral("leFind"))->setText("secret-7");
         QTimer::singleShot(0, find, [find]() { pressCtrlL(find); });
     }},
};

} // namespace

class tst_Lock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(settings); }
    void init() { dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { dir.reset(); }

    void roundTrip_data();
    void roundTrip();
    void lockClosesDialogs_data();
    void lockClosesDialogs();
    void closeWhileLocked_data();
    void closeWhileLocked();
    void minimizing_data();
    void minimizing();

private:
    // A window showing `path` opened with "pw", its text replaced by lines() (and so modified).
    std::unique_ptr<Varnisk> openEdited(const QString& path);
    QString path(const QString& name) const { return dir->filePath(name); }

    QTemporaryDir settings;
    std::unique_ptr<QTemporaryDir> dir;
};

std::unique_ptr<Varnisk> tst_Lock::openEdited(const QString& file)
{
    auto window = show();
    if (!TestSupport::encryptToFile(file, "first version", "pw"))
        qWarning("no document written");
    ModalScript script;
    script.password("pw");
    window->openFile(file);
    if (!script.waitUntilDone() || !cleared(*window))
        qWarning("the document did not open");
    edit(*window, lines());
    return window;
}

void tst_Lock::roundTrip_data()
{
    QTest::addColumn<bool>("named");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QByteArray>("firstTry"); // what is typed first on the lock page
    QTest::newRow("named and modified") << true << true << QByteArray("pw");
    QTest::newRow("named and clean") << true << false << QByteArray("pw");
    QTest::newRow("wrong password first") << true << true << QByteArray("wrong");
    QTest::newRow("never saved: no password") << false << true << QByteArray();
}

void tst_Lock::roundTrip()
{
    QFETCH(bool, named);
    QFETCH(bool, modified);
    QFETCH(QByteArray, firstTry);
    const QString file = path("doc.stxt");
    auto window = named ? openEdited(file) : show();
    edit(*window, lines());
    editor(*window)->document()->setModified(modified);
    QTextCursor cursor = editor(*window)->textCursor();
    cursor.setPosition(2005);
    cursor.setPosition(2010, QTextCursor::KeepAnchor);
    editor(*window)->setTextCursor(cursor);
    editor(*window)->verticalScrollBar()->setValue(150);
    const QString title = window->windowTitle();
    Recording recording;
    window->setWindowSystem(std::make_unique<RecordingWindowSystem>(&recording));

    QVERIFY(window->lock());
    // Characters typed earlier are mapped no longer than the user is there.
    QCOMPARE(recording.calls, QStringList{"restore keyboard"});
    QCOMPARE(window->windowTitle(), title + " (locked)");
    QVERIFY(lockPage(*window)->isVisible());
    QVERIFY(editor(*window)->toPlainText().isEmpty());
    QVERIFY(!editor(*window)->document()->isUndoAvailable());
    QCOMPARE(lockPage(*window)->findChild<QLabel*>(QStringLiteral("lName"))->text(),
             named ? QStringLiteral("doc.stxt") : QStringLiteral("NoName"));
    QCOMPARE(lockPage(*window)->findChild<QLabel*>(QStringLiteral("lNoPassword"))->isVisible(),
             !named);

    ModalScript script;
    if (firstTry == "wrong") {
        script.message();
        unlockWith(*window, firstTry);
        QVERIFY(script.waitUntilDone());
        QCOMPARE(script.messages, QStringList{"Wrong password!"});
        QVERIFY(window->isLocked());
        firstTry = "pw";
    }
    unlockWith(*window, firstTry);
    QCOMPARE(editor(*window)->toPlainText(), lines());
    QCOMPARE(editor(*window)->document()->isModified(), modified);
    QCOMPARE(editor(*window)->textCursor().anchor(), 2005);
    QCOMPARE(editor(*window)->textCursor().position(), 2010);
    QCOMPARE(editor(*window)->verticalScrollBar()->value(), 150);
    QCOMPARE(window->windowTitle(), title);

    // The next Save writes the edited text, under the document's password.
    if (!named)
        script.chooseFile(file).passwords("new", "new");
    trigger(*window, "action_Save");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpected, QStringList());
    QCOMPARE(decryptFile(file, named ? "pw" : "new"), lines().toUtf8());
}

void tst_Lock::lockClosesDialogs_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < int(std::size(dialogRows)); ++row)
        QTest::newRow(dialogRows[row].name) << row;
}

void tst_Lock::lockClosesDialogs()
{
    QFETCH(int, row);
    QVERIFY(TestSupport::encryptToFile(path("other.stxt"), "other", "pw"));
    auto window = openEdited(path("doc.stxt"));

    ModalScript script;
    if (dialogRows[row].steps)
        dialogRows[row].steps(script, dir->path());
    script.then(pressCtrlL);
    dialogRows[row].start(*window, dir->path());
    const QStringList files = TestSupport::entries(dir->path());
    const QByteArray document = readFile(path("doc.stxt"));
    if (!QString::fromLatin1(dialogRows[row].name).startsWith("Find"))
        QVERIFY2(script.waitUntilDone(), qPrintable(script.unexpected.join('|')));
    QTRY_VERIFY_WITH_TIMEOUT(window->isLocked(), 10000);
    QTest::qWait(50);
    QCOMPARE(script.unexpected, QStringList());
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(widget == window.get() || !widget->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(window->findChild<FindDialog*>(), nullptr);
    QCOMPARE(TestSupport::entries(dir->path()), files);
    QCOMPARE(readFile(path("doc.stxt")), document);

    unlockWith(*window, "pw");
    QCOMPARE(editor(*window)->toPlainText(), lines());
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - doc.stxt*"));
    QVERIFY(cleared(*window));
}

void tst_Lock::closeWhileLocked_data()
{
    QTest::addColumn<bool>("named");
    QTest::addColumn<bool>("replaced"); // by another writer after the window opened it
    QTest::addColumn<int>("answer");
    QTest::newRow("named, Yes: the sealed image, no password asked")
        << true << false << int(QMessageBox::Yes);
    QTest::newRow("named, No: nothing written") << true << false << int(QMessageBox::No);
    QTest::newRow("changed on disk: Overwrite or Cancel, no Save As")
        << true << true << int(QMessageBox::Yes);
    QTest::newRow("never saved, Yes: unlocked and saved as")
        << false << false << int(QMessageBox::Yes);
}

void tst_Lock::closeWhileLocked()
{
    QFETCH(bool, named);
    QFETCH(bool, replaced);
    QFETCH(int, answer);
    const QString file = path("doc.stxt");
    auto window = named ? openEdited(file) : show();
    edit(*window, lines());
    QVERIFY(window->lock());
    if (replaced)
        QVERIFY(TestSupport::encryptToFile(file, "theirs", "pw"));

    ModalScript script;
    script.answer(answer);
    QStringList buttons;
    if (replaced) {
        script.then([&buttons](QWidget* widget) {
            QAbstractButton* overwrite = nullptr;
            for (QAbstractButton* button : static_cast<QMessageBox*>(widget)->buttons()) {
                buttons << button->text();
                if (button->text() == "&Overwrite")
                    overwrite = button;
            }
            overwrite != nullptr ? overwrite->click() : (void)widget->close();
        });
    }
    if (!named)
        script.chooseFile(file).passwords("new", "new");
    QVERIFY(window->close());
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages.first(), QStringLiteral("Save changes?"));
    QCOMPARE(script.unexpected, QStringList());
    if (replaced) {
        buttons.sort();
        QCOMPARE(buttons, QStringList({"&Overwrite", "Cancel"}));
    }
    if (answer == QMessageBox::No)
        QCOMPARE(decryptFile(file, "pw"), QByteArray("first version"));
    else
        QCOMPARE(decryptFile(file, named ? "pw" : "new"), lines().toUtf8());
}

void tst_Lock::minimizing_data()
{
    QTest::addColumn<bool>("onMinimize");
    QTest::newRow("set: locks") << true;
    QTest::newRow("off by default: does not") << false;
}

void tst_Lock::minimizing()
{
    QFETCH(bool, onMinimize);
    LockSettings lockSettings = LockSettings::read();
    lockSettings.onMinimize = onMinimize;
    lockSettings.write();
    LockController::instance().reloadSettings();
    auto window = show(QStringLiteral("secret"));
    window->showMinimized();
    QTest::qWait(200);
    QCOMPARE(window->isLocked(), onMinimize);
    lockSettings.onMinimize = false;
    lockSettings.write();
    LockController::instance().reloadSettings();
}

QTEST_MAIN(tst_Lock)
#include "tst_lock.moc"
