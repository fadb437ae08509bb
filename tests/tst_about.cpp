#include "About.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void form();
    void imageHasItsFixedSize();
    void runsApplicationModalAndEscapeCloses();
};

void tst_About::form()
{
    About about(nullptr);
    QCOMPARE(about.objectName(), QStringLiteral("About"));
    QCOMPARE(about.windowTitle(), QStringLiteral("Varnisk"));
    QVERIFY(!(about.windowFlags() & Qt::WindowContextHelpButtonHint));

    auto* version = about.findChild<QLabel*>(QStringLiteral("lText"));
    QCOMPARE(version->text(), QStringLiteral("Varnisk, Version 5.1"));
    QVERIFY(version->font().bold());
    QCOMPARE(version->font().weight(), 75);

    auto* link = about.findChild<QLabel*>(QStringLiteral("label_3"));
    QCOMPARE(link->textFormat(), Qt::RichText);
    QVERIFY(link->openExternalLinks());
    // The link leads to the manual installed with the program (in the build tree, the copy the
    // build puts at the same place relative to the executables).
    const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
    const QUrl target(href.match(link->text()).captured(1));
    QVERIFY2(target.isLocalFile(), qPrintable(link->text()));
    QVERIFY2(QFileInfo(target.toLocalFile()).isFile(), qPrintable(target.toLocalFile()));
    QVERIFY(!about.findChild<QLabel*>(QStringLiteral("lLicense"))->text().isEmpty());
}

void tst_About::imageHasItsFixedSize()
{
    About about(nullptr);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));

    auto* image = about.findChild<QLabel*>(QStringLiteral("label"));
    QCOMPARE(image->size(), QSize(412, 287));
    QVERIFY(image->hasScaledContents());
    about.resize(900, 900);
    QCoreApplication::processEvents();
    QCOMPARE(image->size(), QSize(412, 287));
}

void tst_About::runsApplicationModalAndEscapeCloses()
{
    QWidget mainWindow;
    mainWindow.show();
    About about(&mainWindow);
    QCOMPARE(about.windowModality(), Qt::ApplicationModal);
    QVERIFY(about.isModal());

    QWidget* modalWhileOpen = nullptr;
    TestSupport::whenModal([&modalWhileOpen](QWidget* modal) {
        modalWhileOpen = modal;
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    const int result = about.exec();

    QCOMPARE(modalWhileOpen, &about);
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!about.isVisible());
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
