#include "SecureLineEdit.h"
#include "SecureStringHolder.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QByteArray secretOf(const SecureStringHolder& holder)
{
    return QByteArray(holder.string().data(), static_cast<int>(holder.string().size()));
}

// One key press and release whose text is given, as a keyboard or input layer may send it.
void typeText(QWidget* widget, const QString& text, Qt::Key key = Qt::Key_unknown,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::sendKeyEvent(QTest::Click, widget, key, text, modifiers);
}

void typeEach(QWidget* widget, const QStringList& characters)
{
    for (const QString& character : characters)
        typeText(widget, character);
}

bool onlySubstituteLetters(const QString& text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('a') || c > QLatin1Char('z'))
            return false;
    }
    return true;
}

} // namespace

class tst_SecureLineEdit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typedAsciiGoesToTheSecretOnly();
    void editing_data();
    void editing();
    void droppedKeys_data();
    void droppedKeys();
    void keysForTheDialogPassThrough_data();
    void keysForTheDialogPassThrough();
    void multiByteErase_data();
    void multiByteErase();
    void multiByteInsertInTheMiddle_data();
    void multiByteInsertInTheMiddle();
    void multiCharacterKeyText();
    void loneSurrogateIsDropped();
    void middleClickPastesNothing();
    void contextMenuIsRefused();
    void inputMethodCommitsOnly();
    void dropIsRefused();
    void mouseSelectionIsRemoved();
    void tabFocusLeavesNoSelection();
    void changeFromOutsideWipesSecret();
    void fullFieldKeepsSecretInStep();

private:
    std::unique_ptr<SecureStringHolder> holder;
    std::unique_ptr<SecureLineEdit> edit;

    void expectUnchanged(const QByteArray& secret, const QString& text, int cursor);
};

void tst_SecureLineEdit::init()
{
    holder = std::make_unique<SecureStringHolder>();
    edit = std::make_unique<SecureLineEdit>(holder.get(), nullptr);
}

void tst_SecureLineEdit::cleanup()
{
    edit.reset();
    holder.reset();
    QGuiApplication::clipboard()->clear();
}

void tst_SecureLineEdit::expectUnchanged(const QByteArray& secret, const QString& text, int cursor)
{
    QCOMPARE(secretOf(*holder), secret);
    QCOMPARE(edit->text(), text);
    QCOMPARE(edit->cursorPosition(), cursor);
}

void tst_SecureLineEdit::typedAsciiGoesToTheSecretOnly()
{
    QTest::keyClicks(edit.get(), QStringLiteral("k9Q"));

    QCOMPARE(secretOf(*holder), QByteArray("k9Q"));
    QCOMPARE(edit->text().size(), 3);
    QVERIFY2(onlySubstituteLetters(edit->text()), qPrintable(edit->text()));
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QCOMPARE(edit->displayText().size(), 3);
    QVERIFY(!edit->displayText().contains(QLatin1Char('k')));
}

void tst_SecureLineEdit::editing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("typedAfter");
    QTest::addColumn<QByteArray>("secret");

    QTest::newRow("left backspace")
        << "abc" << QStringList{"Left", "Backspace"} << "" << QByteArray("ac");
    QTest::newRow("left left delete")
        << "abc" << QStringList{"Left", "Left", "Delete"} << "" << QByteArray("ac");
    QTest::newRow("left delete") << "abc" << QStringList{"Left", "Delete"} << ""
                                 << QByteArray("ab");
    QTest::newRow("insert in the middle")
        << "ab" << QStringList{"Left"} << "c" << QByteArray("acb");
    QTest::newRow("delete at the end") << "abc" << QStringList{"Delete"} << "" << QByteArray("abc");
    QTest::newRow("backspace at the start")
        << "abc" << QStringList{"Home", "Backspace"} << "" << QByteArray("abc");
    QTest::newRow("shift+home, then type")
        << "abc" << QStringList{"Shift+Home"} << "x" << QByteArray("xabc");
    QTest::newRow("shift+home, then delete")
        << "abc" << QStringList{"Shift+Home", "Delete"} << "" << QByteArray("bc");
    QTest::newRow("shift+left, then backspace")
        << "abc" << QStringList{"Shift+Left", "Backspace"} << "" << QByteArray("ac");
    QTest::newRow("shift+backspace")
        << "abc" << QStringList{"Shift+Backspace"} << "" << QByteArray("ab");
}

void tst_SecureLineEdit::editing()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, keys);
    QFETCH(QString, typedAfter);
    QFETCH(QByteArray, secret);

    QTest::keyClicks(edit.get(), typed);
    for (const QString& key : keys) {
        QTest::keySequence(edit.get(), QKeySequence(key));
        QVERIFY2(!edit->hasSelectedText(), qPrintable(key));
    }
    QTest::keyClicks(edit.get(), typedAfter);

    QCOMPARE(secretOf(*holder), secret);
    QCOMPARE(edit->text().size(), secret.size());
    QVERIFY(onlySubstituteLetters(edit->text()));
}

void tst_SecureLineEdit::droppedKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");

    QTest::newRow("ctrl+v") << int(Qt::Key_V) << int(Qt::ControlModifier) << "\x16";
    QTest::newRow("ctrl+a") << int(Qt::Key_A) << int(Qt::ControlModifier) << "\x01";
    QTest::newRow("ctrl+z") << int(Qt::Key_Z) << int(Qt::ControlModifier) << "\x1a";
    QTest::newRow("ctrl+shift+z") << int(Qt::Key_Z) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << "\x1a";
    QTest::newRow("ctrl+backspace") << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << "\b";
    QTest::newRow("ctrl+delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << "\x7f";
    QTest::newRow("alt+x") << int(Qt::Key_X) << int(Qt::AltModifier) << "x";
    QTest::newRow("alt+backspace") << int(Qt::Key_Backspace) << int(Qt::AltModifier) << "\b";
    QTest::newRow("shift+insert") << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << "";
    QTest::newRow("shift+delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << "";
    QTest::newRow("shift+delete with text")
        << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << "\x7f";
    QTest::newRow("paste key") << int(Qt::Key_Paste) << int(Qt::NoModifier) << "";
    QTest::newRow("cut key") << int(Qt::Key_Cut) << int(Qt::NoModifier) << "";
    QTest::newRow("undo key") << int(Qt::Key_Undo) << int(Qt::NoModifier) << "";
}

void tst_SecureLineEdit::droppedKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);

    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    QTest::keyClick(edit.get(), Qt::Key_Left);
    // Something for undo to take back, if it got the chance.
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QTest::keyClicks(edit.get(), QStringLiteral("b"));
    const QString letters = edit->text();
    const int cursor = edit->cursorPosition();

    typeText(edit.get(), text, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    expectUnchanged("abc", letters, cursor);
    QVERIFY(!edit->hasSelectedText());
}

void tst_SecureLineEdit::keysForTheDialogPassThrough_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("escape") << int(Qt::Key_Escape) << "\x1b";
    QTest::newRow("return") << int(Qt::Key_Return) << "\r";
    QTest::newRow("enter") << int(Qt::Key_Enter) << "\r";
}

void tst_SecureLineEdit::keysForTheDialogPassThrough()
{
    QFETCH(int, key);
    QFETCH(QString, text);

    QTest::keyClicks(edit.get(), QStringLiteral("pw"));
    const QString letters = edit->text();

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(edit.get(), &press);

    // Left unaccepted, the event goes on to the dialog.
    QVERIFY(!press.isAccepted());
    expectUnchanged("pw", letters, 2);
}

// Each character has a different UTF-8 length: 2, 3, 4 and 1 bytes.
static const QStringList mixed{QStringLiteral("ä"), QStringLiteral("€"),
                               QString::fromUtf8("\xF0\x9F\x98\x80"), QStringLiteral("x")};

static QByteArray utf8Of(const QStringList& characters)
{
    return characters.join(QString()).toUtf8();
}

void tst_SecureLineEdit::multiByteErase_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("key");

    for (int position = 0; position <= mixed.size(); ++position) {
        QTest::addRow("backspace at %d", position) << position << int(Qt::Key_Backspace);
        QTest::addRow("delete at %d", position) << position << int(Qt::Key_Delete);
    }
}

void tst_SecureLineEdit::multiByteErase()
{
    QFETCH(int, position);
    QFETCH(int, key);

    typeEach(edit.get(), mixed);
    QCOMPARE(secretOf(*holder), utf8Of(mixed));
    QCOMPARE(edit->text().size(), mixed.size());

    // Walk the cursor there with the keys, as the user would.
    for (int i = mixed.size(); i > position; --i)
        QTest::keyClick(edit.get(), Qt::Key_Left);
    QCOMPARE(edit->cursorPosition(), position);
    QTest::keyClick(edit.get(), Qt::Key(key));

    QStringList expected = mixed;
    const int erased = key == Qt::Key_Backspace ? position - 1 : position;
    if (erased >= 0 && erased < expected.size())
        expected.removeAt(erased);
    QCOMPARE(secretOf(*holder), utf8Of(expected));
    QCOMPARE(edit->text().size(), expected.size());

    // And the rest stays in step: erasing everything leaves nothing behind.
    QTest::keyClick(edit.get(), Qt::Key_End);
    for (int i = 0; i < expected.size(); ++i)
        QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder), QByteArray());
    QCOMPARE(edit->text(), QString());
}

void tst_SecureLineEdit::multiByteInsertInTheMiddle_data()
{
    QTest::addColumn<int>("position");
    for (int position = 0; position <= mixed.size(); ++position)
        QTest::addRow("at %d", position) << position;
}

void tst_SecureLineEdit::multiByteInsertInTheMiddle()
{
    QFETCH(int, position);

    typeEach(edit.get(), mixed);
    QTest::keyClick(edit.get(), Qt::Key_Home);
    for (int i = 0; i < position; ++i)
        QTest::keyClick(edit.get(), Qt::Key_Right);
    const QString inserted = QString::fromUtf8("\xC3\xB6"); // ö
    typeText(edit.get(), inserted);

    QStringList expected = mixed;
    expected.insert(position, inserted);
    QCOMPARE(secretOf(*holder), utf8Of(expected));
    QCOMPARE(edit->cursorPosition(), position + 1);
}

void tst_SecureLineEdit::multiCharacterKeyText()
{
    typeText(edit.get(), QString::fromUtf8("ab\xE2\x82\xAC\xF0\x9F\x98\x80"));

    QCOMPARE(secretOf(*holder), QByteArray("ab\xE2\x82\xAC\xF0\x9F\x98\x80"));
    QCOMPARE(edit->text().size(), 4);
    QVERIFY(onlySubstituteLetters(edit->text()));

    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder), QByteArray("ab"));
    QCOMPARE(edit->text().size(), 2);
}

void tst_SecureLineEdit::loneSurrogateIsDropped()
{
    QTest::keyClicks(edit.get(), QStringLiteral("a"));
    typeText(edit.get(), QString(QChar(0xD83D)));
    typeText(edit.get(), QString(QChar(0xDE00)));

    QCOMPARE(secretOf(*holder), QByteArray("a"));
    QCOMPARE(edit->text().size(), 1);
}

void tst_SecureLineEdit::middleClickPastesNothing()
{
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    const QString letters = edit->text();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection())
        clipboard->setText(QStringLiteral("primary"), QClipboard::Selection);
    else
        qInfo("this platform has no primary selection; the click is sent all the same");

    QTest::mouseClick(edit.get(), Qt::MiddleButton, Qt::NoModifier, QPoint(2, 2));

    QCOMPARE(secretOf(*holder), QByteArray("abc"));
    QCOMPARE(edit->text(), letters);
}

void tst_SecureLineEdit::contextMenuIsRefused()
{
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    bool menuShown = false;
    // Should a menu open, it runs its own loop: close it from there.
    QTimer::singleShot(0, this, [&menuShown]() {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
    });

    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2));
    QApplication::sendEvent(edit.get(), &event);
    QCoreApplication::processEvents();

    QVERIFY(!menuShown);
    QCOMPARE(secretOf(*holder), QByteArray("abc"));
}

void tst_SecureLineEdit::inputMethodCommitsOnly()
{
    QTest::keyClicks(edit.get(), QStringLiteral("ab"));

    QInputMethodEvent preedit(QStringLiteral("e"), {});
    QApplication::sendEvent(edit.get(), &preedit);
    QCOMPARE(secretOf(*holder), QByteArray("ab"));
    QCOMPARE(edit->text().size(), 2);

    QInputMethodEvent commit;
    commit.setCommitString(QString::fromUtf8("\xC3\xA9\xE2\x82\xAC")); // é€
    QApplication::sendEvent(edit.get(), &commit);
    QCOMPARE(secretOf(*holder), QByteArray("ab\xC3\xA9\xE2\x82\xAC"));
    QCOMPARE(edit->text().size(), 4);

    // A commit that asks to replace the character before it only adds its own text.
    QInputMethodEvent replacing;
    replacing.setCommitString(QStringLiteral("z"), -1, 1);
    QApplication::sendEvent(edit.get(), &replacing);
    QCOMPARE(secretOf(*holder), QByteArray("ab\xC3\xA9\xE2\x82\xAC"
                                           "z"));
    QCOMPARE(edit->text().size(), 5);
}

void tst_SecureLineEdit::dropIsRefused()
{
    QVERIFY(!edit->acceptDrops());
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    const QString letters = edit->text();
    QMimeData data;
    data.setText(QStringLiteral("dropped"));

    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit.get(), &enter);
    QVERIFY(!enter.isAccepted());
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit.get(), &drop);

    QVERIFY(!drop.isAccepted());
    QCOMPARE(secretOf(*holder), QByteArray("abc"));
    QCOMPARE(edit->text(), letters);
}

void tst_SecureLineEdit::mouseSelectionIsRemoved()
{
    edit->resize(200, 30);
    edit->show();
    QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
    QTest::keyClicks(edit.get(), QStringLiteral("abcdef"));

    QTest::mouseDClick(edit.get(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 15));
    QVERIFY(!edit->hasSelectedText());
    QTest::mousePress(edit.get(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 15));
    QMouseEvent move(QEvent::MouseMove, QPointF(190, 15), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(edit.get(), &move);
    QTest::mouseRelease(edit.get(), Qt::LeftButton, Qt::NoModifier, QPoint(190, 15));
    QVERIFY(!edit->hasSelectedText());

    // The next key therefore erases one character, not the dragged range.
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder).size(), 5);
    QCOMPARE(edit->text().size(), 5);
}

void tst_SecureLineEdit::tabFocusLeavesNoSelection()
{
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(edit.get(), &focusIn);

    QVERIFY(!edit->hasSelectedText());
    typeText(edit.get(), QStringLiteral("d"));
    QCOMPARE(edit->text().size(), 4);
}

void tst_SecureLineEdit::changeFromOutsideWipesSecret()
{
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    edit->setText(QString());
    QCOMPARE(secretOf(*holder), QByteArray());

    QTest::keyClicks(edit.get(), QStringLiteral("de"));
    QCOMPARE(secretOf(*holder), QByteArray("de"));

    // Letters from elsewhere match no secret: the next key starts over from an empty field.
    edit->setText(QStringLiteral("xyz"));
    QCOMPARE(secretOf(*holder), QByteArray());
    QTest::keyClicks(edit.get(), QStringLiteral("f"));
    QCOMPARE(secretOf(*holder), QByteArray("f"));
    QCOMPARE(edit->text().size(), 1);

    // The secret emptied behind the field's back: likewise.
    secureClear(holder->string());
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder), QByteArray());
    QCOMPARE(edit->text(), QString());
}

void tst_SecureLineEdit::fullFieldKeepsSecretInStep()
{
    edit->setMaxLength(2);
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));

    QCOMPARE(secretOf(*holder), QByteArray("ab"));
    QCOMPARE(edit->text().size(), 2);
}

QTEST_MAIN(tst_SecureLineEdit)
#include "tst_securelineedit.moc"
