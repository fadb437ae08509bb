// The editor window: its form, title, settings, Find and the close question.
#include "FindDialog.h"
#include "ModalScript.h"
#include "TestSupport.h"
#include "Varnisk.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <cmath>

#include <memory>

class tst_Varnisk : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void actions_data();
    void actions();
    void menus();
    void toolBar();
    void title();
    void firstRunDefaults();
    void settingsRoundTrip();
    void cancelledCloseWritesNothing();
    void tabWidthCancelKeepsValue();
    void find_data();
    void find();
    void findAbsentTextKeepsViewAndFocus();

private:
    std::unique_ptr<Varnisk> makeWindow();
    QPlainTextEdit* editor(Varnisk& window);
    FindDialog* showFind(Varnisk& window, const QString& text);

    std::unique_ptr<QTemporaryDir> settingsDir;
};

void tst_Varnisk::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    TestSupport::isolateSettings(*settingsDir);
}

void tst_Varnisk::cleanup()
{
    settingsDir.reset();
}

std::unique_ptr<Varnisk> tst_Varnisk::makeWindow()
{
    auto window = std::make_unique<Varnisk>(nullptr);
    window->show();
    return window;
}

QPlainTextEdit* tst_Varnisk::editor(Varnisk& window)
{
    return window.findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
}

void tst_Varnisk::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("hasIcon");
    QTest::newRow("New") << "action_New"
                         << "&New"
                         << "Ctrl+N" << true;
    QTest::newRow("Open") << "action_Open"
                          << "&Open..."
                          << "Ctrl+O" << true;
    QTest::newRow("Save") << "action_Save"
                          << "&Save"
                          << "Ctrl+S" << true;
    QTest::newRow("Save As") << "action_Save_As"
                             << "Save As..."
                             << "" << true;
    QTest::newRow("Close") << "action_Close"
                           << "&Close"
                           << "Ctrl+W" << false;
    QTest::newRow("Secrets Directory") << "action_Settings"
                                       << "Secrets &Directory..."
                                       << "" << true;
    QTest::newRow("Quit") << "action_Quit"
                          << "&Quit"
                          << "Ctrl+Q" << false;
    QTest::newRow("Line Wrap") << "action_Line_Wrap"
                               << "Line &Wrap"
                               << "" << false;
    QTest::newRow("Tab Width") << "action_Tab_Width"
                               << "&Tab Width..."
                               << "" << false;
    QTest::newRow("Find") << "action_Find"
                          << "&Find..."
                          << "Ctrl+F" << true;
    QTest::newRow("Encrypt") << "action_Encrypt"
                             << "&Encrypt File..."
                             << "" << true;
    QTest::newRow("Decrypt") << "action_Decrypt"
                             << "&Decrypt File..."
                             << "" << true;
    QTest::newRow("Type") << "action_Type_Selection"
                          << "&Type Selection..."
                          << "F8" << true;
    QTest::newRow("Type TAB") << "action_Type_Selection_TAB"
                              << "Type Selection + TAB..."
                              << "F9" << true;
    QTest::newRow("Type ENTER") << "action_Type_Selection_ENTER"
                                << "Type Selection + ENTER"
                                << "F10" << true;
    QTest::newRow("About") << "action_About"
                           << "&About"
                           << "" << true;
}

void tst_Varnisk::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, shortcut);
    QFETCH(bool, hasIcon);
    auto window = makeWindow();
    auto* action = window->findChild<QAction*>(name);
    QVERIFY2(action != nullptr, qPrintable(name));
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->shortcut().toString(), shortcut);
    QCOMPARE(!action->icon().isNull(), hasIcon);
    if (hasIcon)
        QVERIFY2(!action->icon().pixmap(20, 20).isNull(), "icon image missing from resources");
    QCOMPARE(action->isCheckable(), name == QLatin1String("action_Line_Wrap"));
}

void tst_Varnisk::menus()
{
    auto window = makeWindow();
    QCOMPARE(window->objectName(), QStringLiteral("VarniskClass"));
    QStringList titles;
    for (QAction* action : window->menuBar()->actions())
        titles << action->text();
    QCOMPARE(titles, QStringList({"&File", "&Edit", "E&xtras", "&?"}));

    auto names = [&](const char* menuName) {
        QStringList list;
        for (QAction* action : window->findChild<QMenu*>(QString::fromLatin1(menuName))->actions())
            list << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
        return list;
    };
    QCOMPARE(names("menu_File"),
             QStringList({"action_New", "action_Open", "action_Save", "action_Save_As",
                          "action_Close", "-", "action_Settings", "-", "action_Quit"}));
    QCOMPARE(names("menu_Edit"),
             QStringList({"action_Line_Wrap", "action_Tab_Width", "-", "action_Find"}));
    QCOMPARE(names("menu_Extras"),
             QStringList({"action_Encrypt", "action_Decrypt", "-", "action_Type_Selection",
                          "action_Type_Selection_TAB", "action_Type_Selection_ENTER"}));
    QCOMPARE(names("menu_Help"), QStringList({"action_About"}));
}

void tst_Varnisk::toolBar()
{
    auto window = makeWindow();
    auto* bar = window->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QVERIFY(bar != nullptr);
    QVERIFY(!bar->isMovable());
    QCOMPARE(bar->iconSize(), QSize(20, 20));
    QStringList names;
    for (QAction* action : bar->actions())
        names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
    QCOMPARE(names, QStringList({"action_New", "action_Open", "action_Save", "-", "action_Find",
                                 "-", "action_Type_Selection", "action_Type_Selection_TAB",
                                 "action_Type_Selection_ENTER"}));
}

void tst_Varnisk::title()
{
    auto window = makeWindow();
    QPlainTextEdit* edit = editor(*window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName"));
    QVERIFY(edit->toPlainText().isEmpty());
    QVERIFY(!edit->document()->isModified());
    QTest::keyClicks(edit, QStringLiteral("ab"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName*"));
    edit->undo();
    QVERIFY(edit->toPlainText().isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - NoName"));
}

void tst_Varnisk::firstRunDefaults()
{
    auto window = makeWindow();
    QCOMPARE(window->size(), QSize(600, 400));
    QCOMPARE(window->pos(), QPoint(200, 200));
    QVERIFY(window->findChild<QAction*>(QStringLiteral("action_Line_Wrap"))->isChecked());
    QPlainTextEdit* edit = editor(*window);
    QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    const double width = QFontMetricsF(edit->font()).averageCharWidth();
    QCOMPARE(edit->tabStopDistance(), static_cast<qreal>(std::lround(4 * width)));
    QVERIFY2(QFontInfo(edit->font()).fixedPitch(), "the editor font should be monospaced");
}

void tst_Varnisk::settingsRoundTrip()
{
    const QString secrets = settingsDir->path();
    {
        auto window = makeWindow();
        window->resize(700, 450);
        auto* wrap = window->findChild<QAction*>(QStringLiteral("action_Line_Wrap"));
        wrap->trigger(); // switches it off
        QVERIFY(!wrap->isChecked());
        QCOMPARE(editor(*window)->lineWrapMode(), QPlainTextEdit::NoWrap);

        ModalScript script;
        script.then([](QWidget* widget) {
            auto* spin = widget->findChild<QSpinBox*>();
            QVERIFY(spin != nullptr);
            QCOMPARE(spin->minimum(), 1);
            QCOMPARE(spin->maximum(), 20);
            spin->setValue(8);
            static_cast<QDialog*>(widget)->accept();
        });
        window->findChild<QAction*>(QStringLiteral("action_Tab_Width"))->trigger();
        QVERIFY(script.done());
        const double width = QFontMetricsF(editor(*window)->font()).averageCharWidth();
        QCOMPARE(editor(*window)->tabStopDistance(), static_cast<qreal>(std::lround(8 * width)));

        script.chooseFile(secrets);
        window->findChild<QAction*>(QStringLiteral("action_Settings"))->trigger();
        QVERIFY(script.done());
        QVERIFY(window->close());
    }
    {
        QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
        QCOMPARE(settings.value(QStringLiteral("Settings/tabWidth")).toInt(), 8);
        QCOMPARE(settings.value(QStringLiteral("Settings/lineWrap")).toBool(), false);
        QCOMPARE(settings.value(QStringLiteral("Settings/secretsPath")).toString(), secrets);
        QCOMPARE(settings.value(QStringLiteral("MainWindow/size")).toSize(), QSize(700, 450));
    }
    auto next = makeWindow();
    QCOMPARE(next->size(), QSize(700, 450));
    QCOMPARE(editor(*next)->lineWrapMode(), QPlainTextEdit::NoWrap);
    const double width = QFontMetricsF(editor(*next)->font()).averageCharWidth();
    QCOMPARE(editor(*next)->tabStopDistance(), static_cast<qreal>(std::lround(8 * width)));
}

void tst_Varnisk::cancelledCloseWritesNothing()
{
    auto window = makeWindow();
    QTest::keyClicks(editor(*window), QStringLiteral("unsaved"));
    ModalScript script;
    script.answer(QMessageBox::Cancel);
    QVERIFY(!window->close());
    QVERIFY(script.done());
    QCOMPARE(script.messages, QStringList({"Save changes?"}));
    QVERIFY(window->isVisible());
    QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("unsaved"));
    QVERIFY(QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk")).allKeys().isEmpty());

    script.answer(QMessageBox::No);
    QVERIFY(window->close());
    QVERIFY(script.done());
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    QCOMPARE(settings.allKeys().size(), 5);
}

void tst_Varnisk::tabWidthCancelKeepsValue()
{
    auto window = makeWindow();
    ModalScript script;
    script.cancel();
    window->findChild<QAction*>(QStringLiteral("action_Tab_Width"))->trigger();
    QVERIFY(script.done());
    QVERIFY(window->close());
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    QCOMPARE(settings.value(QStringLiteral("Settings/tabWidth")).toInt(), 4);
}

FindDialog* tst_Varnisk::showFind(Varnisk& window, const QString& text)
{
    window.findChild<QAction*>(QStringLiteral("action_Find"))->trigger();
    auto* dialog = window.findChild<FindDialog*>();
    if (dialog != nullptr)
        dialog->findChild<QLineEdit*>(QStringLiteral("leFind"))->setText(text);
    return dialog;
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
    QTest::newRow("three occurrences, then the first again")
        << "key one key two key"
        << "key" << 0 << 0 << QStringList{"0-3", "8-11", "16-19", "0-3"};
    QTest::newRow("occurrences inside tokens")
        << "bank: bob@example.org"
        << "b" << 0 << 0 << QStringList{"0-1", "6-7", "8-9", "0-1"};
    QTest::newRow("overlapping in one token") << "xaaaay"
                                              << "aa" << 0 << 0 << QStringList{"1-3", "3-5", "1-3"};
    QTest::newRow("once, before the cursor") << "alpha beta"
                                             << "alpha" << 10 << 10 << QStringList{"0-5"};
    QTest::newRow("other case only") << "Secret"
                                     << "secret" << 0 << 0 << QStringList{"not found"};
    QTest::newRow("absent, selection kept")
        << "one two three"
        << "four" << 4 << 7 << QStringList{"not found", "not found"};
    QTest::newRow("spans a line break") << "a\nb"
                                        << "a\nb" << 0 << 0 << QStringList{"not found"};
    QTest::newRow("empty search text")
        << "anything" << QString() << 3 << 3 << QStringList{"not found"};
}

void tst_Varnisk::find()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(QStringList, presses);
    auto window = makeWindow();
    QPlainTextEdit* edit = editor(*window);
    edit->setPlainText(text);
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
    auto window = makeWindow();
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
}

QTEST_MAIN(tst_Varnisk)
#include "tst_varnisk.moc"
