#include "PasswordConfirmDialog.h"
#include "SecureLineEdit.h"
#include "SecureStringHolder.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QByteArray secretOf(const SecureStringHolder& holder)
{
    return QByteArray(holder.string().data(), static_cast<int>(holder.string().size()));
}

void type(QWidget* field, const QString& text)
{
    for (const QString& character : text.split(QString(), Qt::SkipEmptyParts))
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, character, Qt::NoModifier);
}

QStringList focusChain(QWidget* dialog)
{
    QStringList names;
    for (QWidget* w = dialog->nextInFocusChain(); w != dialog; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) != 0)
            names << w->objectName();
    }
    return names;
}

} // namespace

class tst_PasswordConfirmDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void entries_data();
    void entries();
    void mismatchCanBeCorrected();
    void closingKeys_data();
    void closingKeys();
    void tabMovesToTheConfirmation();
    void clearAfterCancelStartsAfresh();

private:
    std::unique_ptr<SecureStringHolder> holder;
    std::unique_ptr<PasswordConfirmDialog> dialog;
    SecureLineEdit* first = nullptr;
    SecureLineEdit* second = nullptr;

    void openAndWait();
    QPushButton* okButton() const { return dialog->findChild<QPushButton*>(QStringLiteral("bOk")); }
    // Presses Ok and answers the message box it may raise; returns the box's text, if any.
    QString pressOk();
};

void tst_PasswordConfirmDialog::init()
{
    holder = std::make_unique<SecureStringHolder>();
    dialog = std::make_unique<PasswordConfirmDialog>(holder.get(), nullptr);
    first = dialog->findChild<SecureLineEdit*>(QStringLiteral("slePassword"));
    second = dialog->findChild<SecureLineEdit*>(QStringLiteral("sleConfirm"));
    QVERIFY(first != nullptr);
    QVERIFY(second != nullptr);
}

void tst_PasswordConfirmDialog::cleanup()
{
    dialog.reset();
    holder.reset();
}

void tst_PasswordConfirmDialog::openAndWait()
{
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
}

QString tst_PasswordConfirmDialog::pressOk()
{
    QString shown;
    // A message box runs its own event loop, where this timer fires; without one it fires in
    // the processEvents below and finds nothing.
    QTimer::singleShot(0, this, [&shown]() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->windowTitle() + QLatin1Char('|') + box->text();
            QCOMPARE(box->icon(), QMessageBox::Critical);
            box->button(QMessageBox::Ok)->click();
        }
    });
    okButton()->click();
    QCoreApplication::processEvents();
    return shown;
}

void tst_PasswordConfirmDialog::form()
{
    QCOMPARE(dialog->objectName(), QStringLiteral("PasswordConfirmDialog"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Varnisk"));
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY(dialog->isModal());
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog->findChild<QGridLayout*>(QStringLiteral("gridLayout"))->sizeConstraint(),
             QLayout::SetFixedSize);
    auto* form = dialog->findChild<QFormLayout*>(QStringLiteral("formLayout"));
    QCOMPARE(form->itemAt(0, QFormLayout::FieldRole)->widget(), first);
    QCOMPARE(form->itemAt(1, QFormLayout::FieldRole)->widget(), second);
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("lPassword"))->text(),
             QStringLiteral("Password:"));
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("lPasswordConfirm"))->text(),
             QStringLiteral("Confirm:"));
    QVERIFY(okButton()->isDefault());
    QCOMPARE(okButton()->text(), QStringLiteral("Ok"));
    QCOMPARE(dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->text(),
             QStringLiteral("Cancel"));
    QCOMPARE(focusChain(dialog.get()),
             (QStringList{"bOk", "bCancel", "slePassword", "sleConfirm"}));

    openAndWait();
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QCOMPARE(dialog->focusWidget(), first);
}

void tst_PasswordConfirmDialog::entries_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("identical") << "secret"
                               << "secret" << true;
    QTest::newRow("both empty") << ""
                                << "" << true;
    QTest::newRow("identical, multi-byte") << QString::fromUtf8("p\xC3\xA4\xE2\x82\xAC")
                                           << QString::fromUtf8("p\xC3\xA4\xE2\x82\xAC") << true;
    QTest::newRow("one character differs") << "secret"
                                           << "secreT" << false;
    QTest::newRow("one character more") << "secret"
                                        << "secret1" << false;
    QTest::newRow("one character less") << "secret"
                                        << "secre" << false;
    QTest::newRow("first empty") << ""
                                 << "x" << false;
    // Same number of characters, different bytes.
    QTest::newRow("a vs ä") << "a" << QString::fromUtf8("\xC3\xA4") << false;
}

void tst_PasswordConfirmDialog::entries()
{
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(bool, accepted);

    openAndWait();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    type(first, password);
    type(second, confirmation);

    const QString shown = pressOk();

    if (accepted) {
        QCOMPARE(shown, QString());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
        QCOMPARE(secretOf(*holder), password.toUtf8());
    } else {
        QCOMPARE(shown, QStringLiteral("Varnisk|Passwords don't match!"));
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog->isVisible());
        QCOMPARE(secretOf(*holder), password.toUtf8());
        QCOMPARE(second->text().size(), confirmation.size());
    }
}

void tst_PasswordConfirmDialog::mismatchCanBeCorrected()
{
    openAndWait();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    type(first, QStringLiteral("secret"));
    type(second, QStringLiteral("secrex"));

    // Answered through the shared helper this time, as a test of the whole modal path.
    bool answered = false;
    TestSupport::whenModal([&answered](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        QCOMPARE(box->text(), QStringLiteral("Passwords don't match!"));
        answered = true;
        box->accept();
    });
    okButton()->click();
    QVERIFY(answered);
    QCOMPARE(finished.count(), 0);

    QTest::keyClick(second, Qt::Key_Backspace);
    type(second, QStringLiteral("t"));
    QCOMPARE(pressOk(), QString());

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    QCOMPARE(secretOf(*holder), QByteArray("secret"));
}

void tst_PasswordConfirmDialog::closingKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");

    QTest::newRow("return presses Ok") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("escape rejects") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void tst_PasswordConfirmDialog::closingKeys()
{
    QFETCH(int, key);
    QFETCH(int, result);

    openAndWait();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    type(first, QStringLiteral("pw"));
    type(second, QStringLiteral("pw"));
    QTest::keyClick(second, Qt::Key(key));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), result);
    QCOMPARE(secretOf(*holder), QByteArray("pw"));
}

void tst_PasswordConfirmDialog::tabMovesToTheConfirmation()
{
    openAndWait();
    dialog->activateWindow();
    first->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(first, Qt::Key_Tab);
    QCOMPARE(dialog->focusWidget(), second);
    // Tab only moved the focus.
    QVERIFY(holder->string().empty());
}

void tst_PasswordConfirmDialog::clearAfterCancelStartsAfresh()
{
    openAndWait();
    type(first, QStringLiteral("abc"));
    type(second, QStringLiteral("abd"));
    dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));

    dialog->clear();
    QVERIFY(holder->string().empty());
    QCOMPARE(first->text(), QString());
    QCOMPARE(second->text(), QString());

    // The confirmation's own holder was emptied too: equal new entries are accepted.
    openAndWait();
    QCOMPARE(dialog->focusWidget(), first);
    type(first, QStringLiteral("new"));
    type(second, QStringLiteral("new"));
    QCOMPARE(pressOk(), QString());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(secretOf(*holder), QByteArray("new"));
}

QTEST_MAIN(tst_PasswordConfirmDialog)
#include "tst_passwordconfirmdialog.moc"
