#include "FindDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_FindDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void findNextIsAnnounced_data();
    void findNextIsAnnounced();
    void cancelOnlyHides();
    void neverNarrowerThan300();

private:
    std::unique_ptr<FindDialog> dialog;
    QLineEdit* field = nullptr;

    void showAndWait();
};

void tst_FindDialog::init()
{
    dialog = std::make_unique<FindDialog>(nullptr);
    field = dialog->findChild<QLineEdit*>(QStringLiteral("leFind"));
    QVERIFY(field != nullptr);
}

void tst_FindDialog::cleanup()
{
    dialog.reset();
}

void tst_FindDialog::showAndWait()
{
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
}

void tst_FindDialog::form()
{
    QCOMPARE(dialog->objectName(), QStringLiteral("FindDialog"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Varnisk"));
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->windowModality(), Qt::NonModal);
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(qFuzzyCompare(dialog->windowOpacity(), 0.8));
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("label"))->text(), QStringLiteral("Find:"));
    auto* find = dialog->findChild<QPushButton*>(QStringLiteral("bFind"));
    QCOMPARE(find->text(), QStringLiteral("Find next..."));
    QVERIFY(find->isDefault());
    QCOMPARE(dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->text(),
             QStringLiteral("&Cancel"));

    QStringList chain;
    for (QWidget* w = dialog->nextInFocusChain(); w != dialog.get(); w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) != 0)
            chain << w->objectName();
    }
    QCOMPARE(chain, (QStringList{"leFind", "bCancel", "bFind"}));
}

void tst_FindDialog::findNextIsAnnounced_data()
{
    QTest::addColumn<bool>("byReturn");
    QTest::newRow("return in the field") << true;
    QTest::newRow("button") << false;
}

void tst_FindDialog::findNextIsAnnounced()
{
    QFETCH(bool, byReturn);

    showAndWait();
    QSignalSpy findNext(dialog.get(), &FindDialog::findNext);
    QTest::keyClicks(field, QStringLiteral("needle"));
    if (byReturn)
        QTest::keyClick(field, Qt::Key_Return);
    else
        dialog->findChild<QPushButton*>(QStringLiteral("bFind"))->click();

    QCOMPARE(findNext.count(), 1);
    QCOMPARE(dialog->searchText(), QStringLiteral("needle"));
    QVERIFY(dialog->isVisible());
}

void tst_FindDialog::cancelOnlyHides()
{
    showAndWait();
    QTest::keyClicks(field, QStringLiteral("needle"));
    dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
    QVERIFY(!dialog->isVisible());

    showAndWait();
    QCOMPARE(dialog->searchText(), QStringLiteral("needle"));

    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

void tst_FindDialog::neverNarrowerThan300()
{
    showAndWait();
    dialog->resize(120, 95);
    QCOMPARE(dialog->width(), 300);
}

QTEST_MAIN(tst_FindDialog)
#include "tst_finddialog.moc"
