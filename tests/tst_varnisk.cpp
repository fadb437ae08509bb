// The editor window: its actions, settings, Find, the About window's link and the close question.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "dialogs/About.h"
#include "dialogs/FindDialog.h"
#include "messages/OutcomeMessage.h"
#include "securememory/LockedMemory.h"

#include <QApplication>
#include <QCheckBox>
#include <QDrag>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <memory>

using namespace EditorWindow;

namespace {

QSettings settings()
{
    return QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
}

qreal tabStop(Varnisk& window, int characters)
{
    const double width = QFontMetricsF(editor(window)->font()).averageCharWidth();
    return static_cast<qreal>(std::lround(characters * width));
}

FindDialog* showFind(Varnisk& window, const QString& text)
{
    trigger(window, "action_Find");
    auto* dialog = window.findChild<FindDialog*>();
    if (dialog != nullptr)
        dialog->findChild<QLineEdit*>(QStringLiteral("leFind"))->setText(text);
    return dialog;
}

} // namespace

class tst_Varnisk : public QObject
{
    Q_OBJECT

private slots:
    // Each case starts without settings.
    void init()
    {
        settingsDir = std::make_unique<QTemporaryDir>();
        TestSupport::isolateSettings(*settingsDir);
    }
    void cleanup() { settingsDir.reset(); }

    void actions_data();
    void actions();
    void settingsRoundTrip();
    void cancelledCloseWritesNothing();
    void find_data();
    void find();
    void findAbsentTextKeepsViewAndFocus();
    void aboutLinksToTheManual();
    void noDragOut();
    void memoryLockNotice();

private:
    std::unique_ptr<QTemporaryDir> settingsDir;
};

void tst_Varnisk::actions_data()
{
    // The shortcuts are what users type; a changed caption fails the translation's test.
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("hasIcon");
    QTest::newRow("action_New") << "Ctrl+N" << true;
    QTest::newRow("action_Open") << "Ctrl+O" << true;
    QTest::newRow("action_Save") << "Ctrl+S" << true;
    QTest::newRow("action_Save_As") << "" << true;
    QTest::newRow("action_Close") << "Ctrl+W" << false;
    QTest::newRow("action_Lock") << "Ctrl+L" << false;
    QTest::newRow("action_Settings") << "" << true;
    QTest::newRow("action_Preferences") << "" << false;
    QTest::newRow("action_Quit") << "Ctrl+Q" << false;
    QTest::newRow("action_Line_Wrap") << "" << false;
    QTest::newRow("action_Tab_Width") << "" << false;
    QTest::newRow("action_Find") << "Ctrl+F" << true;
    QTest::newRow("action_Encrypt") << "" << true;
    QTest::newRow("action_Decrypt") << "" << true;
    QTest::newRow("action_Type_Selection") << "F8" << true;
    QTest::newRow("action_Type_Selection_TAB") << "F9" << true;
    QTest::newRow("action_Type_Selection_ENTER") << "F10" << true;
    QTest::newRow("action_About") << "" << true;
}

void tst_Varnisk::actions()
{
    QFETCH(QString, shortcut);
    QFETCH(bool, hasIcon);
    Varnisk window(nullptr);
    auto* action = window.findChild<QAction*>(QTest::currentDataTag());
    QVERIFY(action != nullptr);
    QCOMPARE(action->shortcut().toString(), shortcut);
    // An icon missing from the resources gives a null pixmap.
    QCOMPARE(!action->icon().pixmap(20, 20).isNull(), hasIcon);
}

void tst_Varnisk::settingsRoundTrip()
{
    const QString secrets = settingsDir->path();
    {
        auto window = show();
        QCOMPARE(window->size(), QSize(600, 400));
        QCOMPARE(window->pos(), QPoint(200, 200));
        QCOMPARE(editor(*window)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(editor(*window)->tabStopDistance(), tabStop(*window, 4));
        QVERIFY2(QFontInfo(editor(*window)->font()).fixedPitch(), "the font is not monospaced");
        window->resize(700, 450);
        trigger(*window, "action_Line_Wrap"); // switches it off
        QCOMPARE(editor(*window)->lineWrapMode(), QPlainTextEdit::NoWrap);

        ModalScript script;
        script.cancel(); // a cancelled Tab Width keeps the value
        trigger(*window, "action_Tab_Width");
        QCOMPARE(editor(*window)->tabStopDistance(), tabStop(*window, 4));
        script.then([](QWidget* widget) {
            widget->findChild<QSpinBox*>()->setValue(8);
            static_cast<QDialog*>(widget)->accept();
        });
        trigger(*window, "action_Tab_Width");
        QCOMPARE(editor(*window)->tabStopDistance(), tabStop(*window, 8));
        // Qt's file dialog keeps its history for every Qt program: ours leaves it as it was.
        const QString qtHistory = QStringLiteral("FileDialog/history");
        QSettings(QSettings::UserScope, QStringLiteral("QtProject")).setValue(qtHistory, "/before");
        script.chooseFile(secrets);
        trigger(*window, "action_Settings");
        QCOMPARE(QSettings(QSettings::UserScope, QStringLiteral("QtProject")).value(qtHistory),
                 QVariant("/before"));
        // The settings dialog's values are stored once it is accepted, not at close.
        script.then([](QWidget* dialog) {
            auto* backups = dialog->findChild<QCheckBox*>(QStringLiteral("cbBackups"));
            QVERIFY(backups->isChecked());
            backups->setChecked(false);
            static_cast<QDialog*>(dialog)->accept();
        });
        trigger(*window, "action_Preferences");
        QCOMPARE(settings().value(QStringLiteral("Settings/backups")).toBool(), false);
        QVERIFY(script.done());
        QVERIFY(window->close());
    }
    QCOMPARE(settings().value(QStringLiteral("Settings/tabWidth")).toInt(), 8);
    QCOMPARE(settings().value(QStringLiteral("Settings/lineWrap")).toBool(), false);
    QCOMPARE(settings().value(QStringLiteral("Settings/secretsPath")).toString(), secrets);
    QCOMPARE(settings().value(QStringLiteral("MainWindow/size")).toSize(), QSize(700, 450));
    auto next = show();
    QCOMPARE(next->size(), QSize(700, 450));
    QCOMPARE(editor(*next)->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(editor(*next)->tabStopDistance(), tabStop(*next, 8));
}

void tst_Varnisk::cancelledCloseWritesNothing()
{
    auto window = show();
    edit(*window, QStringLiteral("unsaved"));
    ModalScript script;
    script.answer(QMessageBox::Cancel);
    QVERIFY(!window->close());
    QCOMPARE(script.messages, QStringList({"Save changes?"}));
    QVERIFY(window->isVisible());
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("unsaved"));
    QVERIFY(settings().allKeys().isEmpty());

    script.answer(QMessageBox::No);
    QVERIFY(window->close());
    QCOMPARE(settings().allKeys().size(), 5);
}

// Each press of Find next... gives "start-end" of the selection it made, or "not found" when
// the message came (the selection then must be as before).
void tst_Varnisk::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<QStringList>("presses");
    const auto row = [](const char* tag, const char* text, const char* search, int anchor,
                        int position, const QStringList& presses) {
        QTest::newRow(tag) << QString::fromUtf8(text) << QString::fromUtf8(search) << anchor
                           << position << presses;
    };
    row("three occurrences, then the first again", "key one key two key", "key", 0, 0,
        {"0-3", "8-11", "16-19", "0-3"});
    row("occurrences inside tokens", "bank: bob@example.org", "b", 0, 0,
        {"0-1", "6-7", "8-9", "0-1"});
    row("overlapping in one token", "xaaaay", "aa", 0, 0, {"1-3", "3-5", "1-3"});
    row("once, before the cursor", "alpha beta", "alpha", 10, 10, {"0-5"});
    row("other case only", "Secret", "secret", 0, 0, {"not found"});
    row("absent, selection kept", "one two three", "four", 4, 7, {"not found", "not found"});
    row("spans a line break", "a\nb", "a\nb", 0, 0, {"not found"});
    row("empty search text", "anything", "", 3, 3, {"not found"});
}

void tst_Varnisk::find()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(QStringList, presses);
    auto window = show(text);
    QPlainTextEdit* edit = editor(*window);
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
    FindDialog* dialog = showFind(*window, search);
    QVERIFY(dialog != nullptr);
    auto* button = dialog->findChild<QPushButton*>(QStringLiteral("bFind"));

    QStringList seen;
    for (int i = 0; i < presses.size(); ++i) {
        const QTextCursor before = edit->textCursor();
        ModalScript script;
        QString message;
        script.message(&message);
        QTest::mouseClick(button, Qt::LeftButton);
        const QTextCursor after = edit->textCursor();
        if (script.done()) {
            QCOMPARE(message, QStringLiteral("Searched text not found!"));
            QCOMPARE(after.anchor(), before.anchor());
            QCOMPARE(after.position(), before.position());
            seen << QStringLiteral("not found");
        } else {
            seen << QStringLiteral("%1-%2").arg(after.selectionStart()).arg(after.selectionEnd());
        }
    }
    QCOMPARE(seen, presses);
}

void tst_Varnisk::findAbsentTextKeepsViewAndFocus()
{
    auto window = show();
    window->resize(400, 200);
    QPlainTextEdit* edit = editor(*window);
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("line %1").arg(i);
    edit->setPlainText(lines.join(QLatin1Char('\n')));
    edit->moveCursor(QTextCursor::Start);
    edit->verticalScrollBar()->setValue(150); // the user scrolled away from the cursor
    QSignalSpy selectionChanges(edit, &QPlainTextEdit::selectionChanged);

    FindDialog* dialog = showFind(*window, QString());
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("leFind"));
    field->setFocus();
    ModalScript script;
    script.message();
    QTest::keyClicks(field, QStringLiteral("qq"));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(script.waitUntilDone());

    QCOMPARE(edit->verticalScrollBar()->value(), 150);
    QCOMPARE(selectionChanges.count(), 0);
    // The user's next keys go on into the search field, never into the document.
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(QApplication::focusWidget(), field);
    // Escape only hides the dialog: it comes back with its text.
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    trigger(*window, "action_Find");
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->searchText(), QStringLiteral("qq"));
}

void tst_Varnisk::aboutLinksToTheManual()
{
    // The manual installed with the program; in the build tree, the copy the build puts at the
    // same place relative to the executables.
    About about(nullptr);
    const QString link = about.findChild<QLabel*>(QStringLiteral("label_3"))->text();
    const QUrl target(
        QRegularExpression(QStringLiteral("href=\"([^\"]+)\"")).match(link).captured(1));
    QVERIFY2(target.isLocalFile(), qPrintable(link));
    QVERIFY2(QFileInfo(target.toLocalFile()).isFile(), qPrintable(target.toLocalFile()));
}

void tst_Varnisk::noDragOut()
{
    // A press inside the selection and a move would start a drag, which offers the text to
    // every program the pointer passes over; it selects anew instead.
    auto window = show(QStringLiteral("alpha beta gamma")); // all selected
    QPlainTextEdit* edit = editor(*window);
    QTextCursor at = edit->textCursor();
    at.setPosition(2);
    const QPoint from = edit->cursorRect(at).center();
    at.setPosition(8);
    const QPoint to = edit->cursorRect(at).center();
    // A drag runs an event loop of its own until the button is released: end one that started.
    QTimer::singleShot(2000, &QDrag::cancel);
    QWidget* viewport = edit->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, from, viewport->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, viewport->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &release);
    QCOMPARE(edit->textCursor().selectedText(), QStringLiteral("pha be"));
}

void tst_Varnisk::memoryLockNotice()
{
    // CTest runs this case once more where memory cannot be locked (tst_varnisk_unlocked).
    const bool unlocked = LockedMemory::lockingFailed();
    if (qEnvironmentVariableIsSet("VARNISK_TEST_UNLOCKED"))
        QVERIFY(unlocked);
    Varnisk window(nullptr);
    window.show();
    window.statusBar()->showMessage(QStringLiteral("Opening: x"));
    int shown = 0;
    for (const QLabel* label : window.statusBar()->findChildren<QLabel*>())
        shown += label->isVisible() && label->text() == OutcomeMessage::memoryNotLocked();
    QCOMPARE(shown, unlocked ? 1 : 0);
}

QTEST_MAIN(tst_Varnisk)
#include "tst_varnisk.moc"
