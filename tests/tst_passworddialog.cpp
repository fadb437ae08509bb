#include "PasswordDialog.h"
#include "SecureLineEdit.h"
#include "SecureStringHolder.h"

#include <QApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

QByteArray secretOf(const SecureStringHolder& holder)
{
    return QByteArray(holder.string().data(), static_cast<int>(holder.string().size()));
}

// The widgets that Tab visits, in order, starting at the dialog.
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

class tst_PasswordDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void typingGoesToTheCallersHolder();
    void closingKeys_data();
    void closingKeys();
    void emptyPasswordIsAccepted();
    void clearAfterCancelStartsAfresh();

private:
    std::unique_ptr<SecureStringHolder> holder;
    std::unique_ptr<PasswordDialog> dialog;
    SecureLineEdit* field = nullptr;

    void openAndWait();
};

void tst_PasswordDialog::init()
{
    holder = std::make_unique<SecureStringHolder>();
    dialog = std::make_unique<PasswordDialog>(holder.get(), nullptr);
    field = dialog->findChild<SecureLineEdit*>(QStringLiteral("slePassword"));
    QVERIFY(field != nullptr);
}

void tst_PasswordDialog::cleanup()
{
    dialog.reset();
    holder.reset();
}

void tst_PasswordDialog::openAndWait()
{
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
}

void tst_PasswordDialog::form()
{
    QCOMPARE(dialog->objectName(), QStringLiteral("PasswordDialog"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Varnisk"));
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY(dialog->isModal());
    QVERIFY(!dialog->isSizeGripEnabled());
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));

    auto* grid = dialog->findChild<QGridLayout*>(QStringLiteral("gridLayout"));
    QVERIFY(grid != nullptr);
    QCOMPARE(grid->sizeConstraint(), QLayout::SetFixedSize);
    auto* form = dialog->findChild<QFormLayout*>(QStringLiteral("formLayout"));
    QVERIFY(form != nullptr);
    QCOMPARE(form->itemAt(0, QFormLayout::FieldRole)->widget(), field);
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("lPassword"))->text(),
             QStringLiteral("Password:"));
    auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("bOk"));
    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QVERIFY(ok->isDefault());
    QCOMPARE(dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->text(),
             QStringLiteral("Cancel"));

    QCOMPARE(focusChain(dialog.get()), (QStringList{"bCancel", "bOk", "slePassword"}));

    // Fixed size: the border cannot be dragged.
    openAndWait();
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QCOMPARE(dialog->focusWidget(), field);
}

void tst_PasswordDialog::typingGoesToTheCallersHolder()
{
    openAndWait();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QTest::keyClicks(field, QStringLiteral("s3cret"));
    QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString::fromUtf8("\xE2\x82\xAC"),
                        Qt::NoModifier);

    dialog->findChild<QPushButton*>(QStringLiteral("bOk"))->click();

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    QCOMPARE(secretOf(*holder), QByteArray("s3cret\xE2\x82\xAC"));
    QVERIFY(!field->text().contains(QLatin1String("s3cret")));
}

void tst_PasswordDialog::closingKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");

    QTest::newRow("return presses Ok") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("enter presses Ok") << int(Qt::Key_Enter) << int(QDialog::Accepted);
    QTest::newRow("escape rejects") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void tst_PasswordDialog::closingKeys()
{
    QFETCH(int, key);
    QFETCH(int, result);

    openAndWait();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QTest::keyClicks(field, QStringLiteral("pw"));
    QTest::keyClick(field, Qt::Key(key));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), result);
    QCOMPARE(secretOf(*holder), QByteArray("pw"));
}

void tst_PasswordDialog::emptyPasswordIsAccepted()
{
    openAndWait();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QTest::keyClick(field, Qt::Key_Return);

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    QVERIFY(holder->string().empty());
}

void tst_PasswordDialog::clearAfterCancelStartsAfresh()
{
    openAndWait();
    QTest::keyClicks(field, QStringLiteral("typo"));
    dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    // Until the caller clears it, a rejected dialog keeps what was typed.
    QCOMPARE(secretOf(*holder), QByteArray("typo"));

    dialog->clear();
    QVERIFY(holder->string().empty());
    QCOMPARE(field->text(), QString());

    openAndWait();
    QCOMPARE(dialog->focusWidget(), field);
    // The field and the secret start in step again.
    QTest::keyClicks(field, QStringLiteral("xyz"));
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(secretOf(*holder), QByteArray("xz"));
    QCOMPARE(field->text().size(), 2);
}

QTEST_MAIN(tst_PasswordDialog)
#include "tst_passworddialog.moc"
