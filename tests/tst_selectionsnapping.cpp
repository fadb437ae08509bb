// Selection snapping: a selection inside a whitespace-delimited token grows to the token.
#include "TestSupport.h"
#include "Varnisk.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include <memory>

class tst_SelectionSnapping : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void snaps_data();
    void snaps();
    void sameTokenTwice();
    void dragStepsStayOnToken();
    void doubleClickGrowsToToken();

private:
    void select(int anchor, int position);
    QString selected() const;

    std::unique_ptr<QTemporaryDir> settingsDir;
    std::unique_ptr<Varnisk> window;
    QPlainTextEdit* editor = nullptr;
};

void tst_SelectionSnapping::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    TestSupport::isolateSettings(*settingsDir);
    window = std::make_unique<Varnisk>(nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    editor = window->findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
    editor->setPlainText(QStringLiteral("alpha beta-bravo gamma"));
}

void tst_SelectionSnapping::cleanup()
{
    window.reset();
    settingsDir.reset();
}

void tst_SelectionSnapping::select(int anchor, int position)
{
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
}

QString tst_SelectionSnapping::selected() const
{
    return editor->textCursor().selectedText();
}

void tst_SelectionSnapping::snaps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("expectedAnchor");
    QTest::addColumn<int>("expectedPosition");

    const QString doc = QStringLiteral("alpha beta-bravo gamma");
    // "alpha beta-bravo gamma": beta-bravo is 6..16, gamma 17..22.
    QTest::newRow("ta-b grows to beta-bravo") << doc << 8 << 12 << 6 << 16;
    QTest::newRow("a b across the blank stays") << doc << 4 << 7 << 4 << 7;
    QTest::newRow("part of alpha grows to 0") << doc << 2 << 4 << 0 << 5;
    QTest::newRow("part of gamma grows to the end") << doc << 18 << 20 << 17 << 22;
    QTest::newRow("right to left ends anchored at the start") << doc << 12 << 8 << 6 << 16;
    QTest::newRow("whole token stays") << doc << 6 << 16 << 6 << 16;
    QTest::newRow("over a line break stays") << "one\ntwo" << 2 << 5 << 2 << 5;
    QTest::newRow("token on the second line") << "one\ntwo three" << 5 << 6 << 4 << 7;
    QTest::newRow("tab is whitespace") << "ab\tcd" << 3 << 4 << 3 << 5;
    QTest::newRow("no-break space is whitespace")
        << QString::fromUtf8("ab\u00a0cd") << 0 << 1 << 0 << 2;
}

void tst_SelectionSnapping::snaps()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(int, expectedAnchor);
    QFETCH(int, expectedPosition);

    editor->setPlainText(text);
    select(anchor, position);
    QCOMPARE(editor->textCursor().anchor(), expectedAnchor);
    QCOMPARE(editor->textCursor().position(), expectedPosition);
}

void tst_SelectionSnapping::sameTokenTwice()
{
    // The second selection is already the whole token: snapping must not leave a flag behind
    // that swallows the selection after it.
    select(8, 12);
    QCOMPARE(selected(), QStringLiteral("beta-bravo"));
    select(0, 0);
    select(6, 16);
    QCOMPARE(selected(), QStringLiteral("beta-bravo"));
    select(1, 2);
    QCOMPARE(selected(), QStringLiteral("alpha"));
    select(18, 19);
    QCOMPARE(selected(), QStringLiteral("gamma"));
}

void tst_SelectionSnapping::dragStepsStayOnToken()
{
    // A mouse drag extends the selection one step at a time; every step is snapped.
    for (int position = 8; position <= 15; ++position) {
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(7);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        editor->setTextCursor(cursor);
        QCOMPARE(selected(), QStringLiteral("beta-bravo"));
    }
    select(14, 19);
    QCOMPARE(selected(), QStringLiteral("vo ga"));
}

void tst_SelectionSnapping::doubleClickGrowsToToken()
{
    QTextCursor cursor(editor->document());
    cursor.setPosition(13); // inside "bravo"
    const QPoint point = editor->cursorRect(cursor).center();
    QTest::mouseDClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QCOMPARE(selected(), QStringLiteral("beta-bravo"));
    QCOMPARE(editor->textCursor().anchor(), 6);
    QCOMPARE(editor->textCursor().position(), 16);
}

QTEST_MAIN(tst_SelectionSnapping)
#include "tst_selectionsnapping.moc"
