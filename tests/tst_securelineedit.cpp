// The password field: what is typed and edited reaches the secret, byte for byte, while the
// widget holds only stand-in letters; every other way into the field is shut.
#include "TestSupport.h"
#include "dialogs/SecureLineEdit.h"
#include "securememory/SecureStringHolder.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

using TestSupport::secretOf;

class tst_SecureLineEdit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void editing_data();
    void editing();
    void keysChangeNothing_data();
    void keysChangeNothing();
    void otherInput_data();
    void otherInput();
    void noSelection();
    void changeFromOutsideWipesSecret();

private:
    std::unique_ptr<SecureStringHolder> holder;
    std::unique_ptr<SecureLineEdit> edit;
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

void tst_SecureLineEdit::editing_data()
{
    // Each step is one key event with that text, or "<keys>" for a key sequence. The characters
    // ä € 😀 x take 2, 3, 4 and 1 bytes.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("secret");
    const QStringList mixed{"ä", "€", "😀", "x"};
    QTest::newRow("ascii") << QStringList{"k", "9", "Q"} << "k9Q";
    QTest::newRow("delete at the end") << QStringList{"abc", "<Delete>"} << "abc";
    QTest::newRow("backspace at the start") << QStringList{"abc", "<Home>", "<Backspace>"} << "abc";
    QTest::newRow("shift+home, then type") << QStringList{"abc", "<Shift+Home>", "x"} << "xabc";
    QTest::newRow("shift+home, then delete")
        << QStringList{"abc", "<Shift+Home>", "<Delete>"} << "bc";
    QTest::newRow("shift+left, then backspace")
        << QStringList{"abc", "<Shift+Left>", "<Backspace>"} << "ac";
    QTest::newRow("shift+backspace") << QStringList{"abc", "<Shift+Backspace>"} << "ab";
    // Select all is the one selection kept: what comes next replaces everything.
    QTest::newRow("select all, then type") << QStringList{"a€c", "<Ctrl+A>", "x"} << "x";
    QTest::newRow("select all, then backspace")
        << QStringList{"abc", "<Ctrl+A>", "<Backspace>", "d"} << "d";
    QTest::newRow("select all, then left")
        << QStringList{"abc", "<Ctrl+A>", "<Left>", "x"} << "abxc";
    QTest::newRow("backspace after 4 bytes")
        << mixed + QStringList{"<Left>", "<Backspace>"} << "ä€x";
    QTest::newRow("delete before 3 bytes")
        << mixed + QStringList{"<Home>", "<Right>", "<Delete>"} << "ä😀x";
    QTest::newRow("backspace after 2 bytes")
        << mixed + QStringList{"<Home>", "<Right>", "<Backspace>"} << "€😀x";
    QTest::newRow("insert before 4 bytes")
        << mixed + QStringList{"<Left>", "<Left>", "ö"} << "ä€ö😀x";
    QTest::newRow("several characters in one event")
        << QStringList{"ab€😀", "<Backspace>", "<Backspace>"} << "ab";
    QTest::newRow("lone surrogates are dropped")
        << QStringList{"a", QString(QChar(0xD83D)), QString(QChar(0xDE00))} << "a";
}

void tst_SecureLineEdit::editing()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, secret);
    for (const QString& step : steps) {
        if (step.startsWith('<') && step.size() > 1) {
            QTest::keySequence(edit.get(), QKeySequence(step.mid(1, step.size() - 2)));
            QVERIFY2(edit->hasSelectedText() == (step == "<Ctrl+A>"), qPrintable(step));
        } else {
            QTest::sendKeyEvent(QTest::Click, edit.get(), Qt::Key_unknown, step, Qt::NoModifier);
        }
    }
    QCOMPARE(secretOf(*holder), secret.toUtf8());
    QCOMPARE(edit->text().size(), secret.toUcs4().size());
    QVERIFY2(QRegularExpression("^[a-z]*$").match(edit->text()).hasMatch(),
             qPrintable(edit->text()));
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    // And the rest stays in step: erasing everything leaves nothing behind.
    QTest::keyClick(edit.get(), Qt::Key_End);
    for (int i = secret.toUcs4().size(); i > 0; --i)
        QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder), QByteArray());
    QCOMPARE(edit->text(), QString());
}

void tst_SecureLineEdit::keysChangeNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passed"); // left unaccepted, for the dialog to take

    QTest::newRow("ctrl+v") << int(Qt::Key_V) << int(Qt::ControlModifier) << "\x16" << false;
    QTest::newRow("ctrl+z") << int(Qt::Key_Z) << int(Qt::ControlModifier) << "\x1a" << false;
    QTest::newRow("ctrl+shift+z") << int(Qt::Key_Z) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << "\x1a" << false;
    QTest::newRow("ctrl+backspace")
        << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << "\b" << false;
    QTest::newRow("ctrl+delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << "\x7f"
                                 << false;
    QTest::newRow("alt+x") << int(Qt::Key_X) << int(Qt::AltModifier) << "x" << false;
    QTest::newRow("alt+backspace")
        << int(Qt::Key_Backspace) << int(Qt::AltModifier) << "\b" << false;
    QTest::newRow("shift+insert") << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << "" << false;
    QTest::newRow("shift+delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << "" << false;
    QTest::newRow("shift+delete with text")
        << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << "\x7f" << false;
    QTest::newRow("paste key") << int(Qt::Key_Paste) << int(Qt::NoModifier) << "" << false;
    QTest::newRow("cut key") << int(Qt::Key_Cut) << int(Qt::NoModifier) << "" << false;
    QTest::newRow("undo key") << int(Qt::Key_Undo) << int(Qt::NoModifier) << "" << false;
    QTest::newRow("escape") << int(Qt::Key_Escape) << 0 << "\x1b" << true;
    QTest::newRow("return") << int(Qt::Key_Return) << 0 << "\r" << true;
    QTest::newRow("enter") << int(Qt::Key_Enter) << 0 << "\r" << true;
}

void tst_SecureLineEdit::keysChangeNothing()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(bool, passed);

    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    QTest::keyClick(edit.get(), Qt::Key_Left);
    // Something for undo to take back, if it got the chance.
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QTest::keyClicks(edit.get(), QStringLiteral("b"));
    const QString letters = edit->text();

    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
    QApplication::sendEvent(edit.get(), &press);

    if (passed)
        QVERIFY(!press.isAccepted());
    QCOMPARE(secretOf(*holder), QByteArray("abc"));
    QCOMPARE(edit->text(), letters);
    QCOMPARE(edit->cursorPosition(), 2);
    QVERIFY(!edit->hasSelectedText());
}

void tst_SecureLineEdit::otherInput_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("secret"); // after "abc" was typed
    QTest::newRow("middle click pastes nothing") << "middle click" << QByteArray("abc");
    QTest::newRow("no context menu") << "context menu" << QByteArray("abc");
    QTest::newRow("drops refused") << "drop" << QByteArray("abc");
    QTest::newRow("input method preedit adds nothing") << "preedit" << QByteArray("abc");
    QTest::newRow("input method commit") << "commit" << QByteArray("abc\xC3\xA9\xE2\x82\xAC");
    // A commit that asks to replace the character before it only adds its own text.
    QTest::newRow("replacing commit only adds") << "replacing commit" << QByteArray("abcz");
}

void tst_SecureLineEdit::otherInput()
{
    QFETCH(QString, input);
    QFETCH(QByteArray, secret);
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    const QString letters = edit->text();
    if (input == "middle click") {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection())
            clipboard->setText(QStringLiteral("primary"), QClipboard::Selection);
        QTest::mouseClick(edit.get(), Qt::MiddleButton, Qt::NoModifier, QPoint(2, 2));
    } else if (input == "context menu") {
        bool menuShown = false;
        // Should a menu open, it runs its own loop: close it from there.
        QTimer::singleShot(0, this, [&menuShown]() {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                menuShown = true;
                popup->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2),
                                edit->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(edit.get(), &event);
        QCoreApplication::processEvents();
        QVERIFY(!menuShown);
    } else if (input == "drop") {
        QVERIFY(!edit->acceptDrops());
        QMimeData data;
        data.setText(QStringLiteral("dropped"));
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit.get(), &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit.get(), &drop);
        QVERIFY(!drop.isAccepted());
    } else if (input == "preedit") {
        QInputMethodEvent preedit(QStringLiteral("e"), {});
        QApplication::sendEvent(edit.get(), &preedit);
    } else {
        QInputMethodEvent commit;
        if (input == "commit")
            commit.setCommitString(QString::fromUtf8("\xC3\xA9\xE2\x82\xAC")); // é€
        else
            commit.setCommitString(QStringLiteral("z"), -1, 1);
        QApplication::sendEvent(edit.get(), &commit);
    }
    QCOMPARE(secretOf(*holder), secret);
    if (secret == "abc")
        QCOMPARE(edit->text(), letters);
    QCOMPARE(edit->text().size(), QString::fromUtf8(secret).size());
}

void tst_SecureLineEdit::noSelection()
{
    // A selection would let the next key erase a range the secret knows nothing of.
    edit->resize(200, 30);
    edit->show();
    QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
    QTest::keyClicks(edit.get(), QStringLiteral("abcdef"));
    QTest::mouseDClick(edit.get(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 15));
    QVERIFY(!edit->hasSelectedText());
    QTest::mousePress(edit.get(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 15));
    QMouseEvent move(QEvent::MouseMove, QPointF(190, 15), edit->mapToGlobal(QPoint(190, 15)),
                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit.get(), &move);
    QTest::mouseRelease(edit.get(), Qt::LeftButton, Qt::NoModifier, QPoint(190, 15));
    QVERIFY(!edit->hasSelectedText());
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(edit.get(), &focusIn);
    QVERIFY(!edit->hasSelectedText());

    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder), QByteArray("abcde"));
    QCOMPARE(edit->text().size(), 5);
}

void tst_SecureLineEdit::changeFromOutsideWipesSecret()
{
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    edit->setText(QString());
    QCOMPARE(secretOf(*holder), QByteArray());

    // Letters from elsewhere match no secret: the next key starts over from an empty field.
    QTest::keyClicks(edit.get(), QStringLiteral("de"));
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

    // A full field takes no more characters, in the secret neither.
    edit->setMaxLength(2);
    QTest::keyClicks(edit.get(), QStringLiteral("abc"));
    QCOMPARE(secretOf(*holder), QByteArray("ab"));
    QCOMPARE(edit->text().size(), 2);
}

QTEST_MAIN(tst_SecureLineEdit)
#include "tst_securelineedit.moc"
