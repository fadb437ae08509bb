// The two password dialogs: what is typed reaches the caller's holder and nothing else, the
// keys that close them, the confirmation's comparison and its question about a weak password,
// the generated passphrase, and a fresh start after clear().
#include "ModalScript.h"
#include "TestSupport.h"
#include "dialogs/PasswordConfirmDialog.h"
#include "dialogs/PasswordDialog.h"
#include "securememory/SecureStringHolder.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using TestSupport::secretOf;

namespace {
// Outcomes of the confirmation beyond accepted and rejected.
const int mismatch = -1; // "Passwords don't match!"
const int weak = -2;     // the question whether to use a weak password
} // namespace

class tst_PasswordDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void entries_data();
    void entries();
    void generate();
    void strongerDerivation();
    void clearStartsAfresh_data();
    void clearStartsAfresh();

private:
    void open(bool confirm);
    void press(const QString& key);

    std::unique_ptr<SecureStringHolder> holder;
    std::unique_ptr<QDialog> dialog;
    QLineEdit* first = nullptr;
    QLineEdit* second = nullptr; // the confirmation, null in the plain dialog
};

void tst_PasswordDialogs::init()
{
    holder = std::make_unique<SecureStringHolder>();
}

void tst_PasswordDialogs::cleanup()
{
    dialog.reset();
    holder.reset();
}

void tst_PasswordDialogs::open(bool confirm)
{
    if (dialog == nullptr && confirm)
        dialog = std::make_unique<PasswordConfirmDialog>(holder.get(), nullptr);
    else if (dialog == nullptr)
        dialog = std::make_unique<PasswordDialog>(holder.get(), nullptr);
    first = dialog->findChild<QLineEdit*>(QStringLiteral("slePassword"));
    second = dialog->findChild<QLineEdit*>(QStringLiteral("sleConfirm"));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    QCOMPARE(dialog->focusWidget(), first);
}

void tst_PasswordDialogs::press(const QString& key)
{
    QWidget* field = second != nullptr ? second : first;
    if (key == QLatin1String("Ok"))
        dialog->findChild<QPushButton*>(QStringLiteral("bOk"))->click();
    else if (key == QLatin1String("Cancel"))
        dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
    else
        QTest::keySequence(field, QKeySequence(key));
}

void tst_PasswordDialogs::entries_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("result");

    const int ok = QDialog::Accepted;
    const int no = QDialog::Rejected;
    const QString multiByte = QString::fromUtf8("p\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
    const QString strong = QString::fromUtf8("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80 longer than 15");
    const auto row = [](const char* name, bool confirm, const QString& password,
                        const QString& confirmation, const char* key, int result) {
        QTest::newRow(name) << confirm << password << confirmation << QString(key) << result;
    };
    row("plain, Ok", false, multiByte, {}, "Ok", ok);
    row("plain, Return", false, "pw", {}, "Return", ok);
    row("plain, Escape", false, "pw", {}, "Escape", no);
    row("plain, empty", false, {}, {}, "Return", ok);
    row("confirm, strong multi-byte", true, strong, strong, "Return", ok);
    row("confirm, Escape", true, "pw", "pw", "Escape", no);
    row("confirm, both empty", true, {}, {}, "Ok", weak);
    row("confirm, common word", true, "dragon", "dragon", "Return", weak);
    row("confirm, one differs", true, "secret", "secreT", "Ok", mismatch);
    row("confirm, one more", true, "secret", "secret1", "Ok", mismatch);
    row("confirm, one less", true, "secret", "secre", "Return", mismatch);
    row("confirm, first empty", true, {}, "x", "Ok", mismatch);
    // Same number of characters, different bytes.
    row("confirm, a vs ä", true, "a", QString::fromUtf8("\xC3\xA4"), "Ok", mismatch);
}

void tst_PasswordDialogs::entries()
{
    QFETCH(bool, confirm);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(QString, key);
    QFETCH(int, result);

    open(confirm);
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    typeText(first, password);
    if (confirm) {
        QTest::keyClick(first, Qt::Key_Tab);
        QCOMPARE(dialog->focusWidget(), second);
        typeText(second, confirmation);
    }
    // The fields hold stand-ins, never the characters typed.
    QVERIFY(password.isEmpty() || !first->text().contains(password));
    ModalScript script;
    if (result == mismatch)
        script.message();
    if (result == weak)
        script.answer(QMessageBox::No);
    press(key);
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.unexpectedMessages, QStringList());
    if (result == mismatch) {
        QCOMPARE(script.messages, QStringList{"Passwords don't match!"});
        // Both entries start afresh, the first one focused.
        QVERIFY(holder->string().empty() && first->text().isEmpty() && second->text().isEmpty());
        QCOMPARE(dialog->focusWidget(), first);
        password = QStringLiteral("correct horse battery staple");
        typeText(first, password);
        typeText(second, password);
        press(QStringLiteral("Ok"));
        result = QDialog::Accepted;
    }
    if (result == weak) {
        // One question naming the estimate; No keeps the dialog open, Yes takes the password.
        const QString named = password.isEmpty() ? "can open it." : "in less than a second.";
        QVERIFY2(script.messages.value(0).endsWith(named + "\nUse it anyway?"),
                 qPrintable(script.messages.value(0)));
        QVERIFY(finished.count() == 0 && dialog->isVisible());
        ModalScript yes;
        yes.answer(QMessageBox::Yes);
        press(key);
        QVERIFY(yes.waitUntilDone());
        result = QDialog::Accepted;
    }
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), result);
    // Until the caller clears it, even a rejected dialog keeps what was typed.
    QCOMPARE(secretOf(*holder), password.toUtf8());
}

void tst_PasswordDialogs::generate()
{
    open(true);
    auto* generateButton = dialog->findChild<QPushButton*>(QStringLiteral("bGenerate"));
    auto* shown = dialog->findChild<QLabel*>(QStringLiteral("lPassphrase"));
    auto* estimate = dialog->findChild<QLabel*>(QStringLiteral("lTimeToGuess"));
    typeText(first, QStringLiteral("dragon"));
    QTRY_VERIFY2(estimate->text().endsWith("(weak)"), qPrintable(estimate->text()));
    QStringList passphrases;
    for (int i = 0; i < 2; ++i) {
        generateButton->click();
        passphrases << QString::fromUtf8(secretOf(*holder));
        QVERIFY2(QRegularExpression("^[a-z-]+( [a-z-]+){5}$").match(passphrases.last()).hasMatch(),
                 qPrintable(passphrases.last()));
        QCOMPARE(shown->text(), passphrases.last());
        QVERIFY(shown->isVisible());
        QCOMPARE(estimate->text(), "Time to guess: more than a million years (strong)");
    }
    QVERIFY(passphrases.at(0) != passphrases.at(1));
    ModalScript script; // no question for a strong one
    press(QStringLiteral("Ok"));
    QCOMPARE(script.unexpectedMessages, QStringList());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    // Both entries hold it: the confirmation passed.
    QCOMPARE(QString::fromUtf8(secretOf(*holder)), passphrases.last());
    static_cast<PasswordConfirmDialog*>(dialog.get())->clear();
    QVERIFY(shown->text().isEmpty() && !shown->isVisible());
}

void tst_PasswordDialogs::strongerDerivation()
{
    // Off at first and after clear(); the estimate follows the box at once.
    open(true);
    auto* confirmation = static_cast<PasswordConfirmDialog*>(dialog.get());
    auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("cbStrongerDerivation"));
    auto* estimate = dialog->findChild<QLabel*>(QStringLiteral("lTimeToGuess"));
    typeText(first, QStringLiteral("sommer2024"));
    QTRY_COMPARE(estimate->text(), "Time to guess: less than a second (weak)");
    QCOMPARE(confirmation->derivation(), KeyDerivation::Pbkdf2);
    box->click();
    QCOMPARE(estimate->text(), "Time to guess: about 55 seconds (weak)");
    QCOMPARE(confirmation->derivation(), KeyDerivation::Argon2id);
    confirmation->clear();
    QVERIFY(!box->isChecked());
}

void tst_PasswordDialogs::clearStartsAfresh_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("plain") << false;
    QTest::newRow("confirm") << true;
}

void tst_PasswordDialogs::clearStartsAfresh()
{
    QFETCH(bool, confirm);
    open(confirm);
    typeText(first, QStringLiteral("abc"));
    if (confirm)
        typeText(second, QStringLiteral("abd"));
    press(QStringLiteral("Cancel"));
    QCOMPARE(dialog->result(), int(QDialog::Rejected));

    if (auto* plain = qobject_cast<PasswordDialog*>(dialog.get()))
        plain->clear();
    else
        static_cast<PasswordConfirmDialog*>(dialog.get())->clear();
    QVERIFY(holder->string().empty());
    QCOMPARE(first->text(), QString());
    QVERIFY(!confirm || second->text().isEmpty());

    // The confirmation's own holder was emptied too: equal new entries are accepted.
    open(confirm);
    typeText(first, QStringLiteral("a new one, not weak"));
    if (confirm)
        typeText(second, QStringLiteral("a new one, not weak"));
    ModalScript script;
    press(QStringLiteral("Ok"));
    QCOMPARE(script.unexpectedMessages, QStringList());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(secretOf(*holder), QByteArray("a new one, not weak"));
}

QTEST_MAIN(tst_PasswordDialogs)
#include "tst_passworddialogs.moc"
