// Selection snapping: a selection inside a whitespace-delimited token grows to the token.
#include "EditorWindow.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

class tst_SelectionSnapping : public QObject
{
    Q_OBJECT

private slots:
    void snaps_data();
    void snaps();
};

void tst_SelectionSnapping::snaps_data()
{
    // Selections made one after the other ("anchor-position", or "click N" for a double click
    // there), and "anchor-position" of each result.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("selections");
    QTest::addColumn<QStringList>("results");

    const QString doc =
        QStringLiteral("alpha beta-bravo gamma"); // beta-bravo: 6..16, gamma: 17..22
    QTest::newRow("ta-b grows to beta-bravo") << doc << QStringList{"8-12"} << QStringList{"6-16"};
    QTest::newRow("across a blank stays") << doc << QStringList{"4-7"} << QStringList{"4-7"};
    QTest::newRow("part of alpha grows to 0") << doc << QStringList{"2-4"} << QStringList{"0-5"};
    QTest::newRow("part of gamma grows to the end")
        << doc << QStringList{"18-20"} << QStringList{"17-22"};
    QTest::newRow("right to left ends anchored at the start")
        << doc << QStringList{"12-8"} << QStringList{"6-16"};
    QTest::newRow("over a line break stays")
        << "one\ntwo" << QStringList{"2-5"} << QStringList{"2-5"};
    QTest::newRow("token on the second line")
        << "one\ntwo three" << QStringList{"5-6"} << QStringList{"4-7"};
    QTest::newRow("tab is whitespace") << "ab\tcd" << QStringList{"3-4"} << QStringList{"3-5"};
    QTest::newRow("no-break space is whitespace")
        << QString::fromUtf8("ab\u00a0cd") << QStringList{"0-1"} << QStringList{"0-2"};
    // A selection that already is the whole token must leave no flag behind that swallows the
    // selection after it.
    QTest::newRow("the same token twice")
        << doc << QStringList{"8-12", "0-0", "6-16", "1-2", "18-19"}
        << QStringList{"6-16", "0-0", "6-16", "0-5", "17-22"};
    // A mouse drag extends the selection one step at a time; every step is snapped.
    QTest::newRow("drag steps") << doc << QStringList{"7-8", "7-9", "7-12", "7-15", "14-19"}
                                << QStringList{"6-16", "6-16", "6-16", "6-16", "14-19"};
    QTest::newRow("double click") << doc << QStringList{"click 13"} << QStringList{"6-16"};
}

void tst_SelectionSnapping::snaps()
{
    QFETCH(QString, text);
    QFETCH(QStringList, selections);
    QFETCH(QStringList, results);
    QTemporaryDir settings;
    TestSupport::isolateSettings(settings);
    auto window = EditorWindow::show(text);
    QPlainTextEdit* editor = EditorWindow::editor(*window);
    QStringList seen;
    for (const QString& selection : selections) {
        QTextCursor cursor = editor->textCursor();
        if (selection.startsWith(QLatin1String("click "))) {
            cursor.setPosition(selection.mid(6).toInt());
            QTest::mouseDClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier,
                               editor->cursorRect(cursor).center());
        } else {
            cursor.setPosition(selection.section('-', 0, 0).toInt());
            cursor.setPosition(selection.section('-', 1).toInt(), QTextCursor::KeepAnchor);
            editor->setTextCursor(cursor);
        }
        seen << QStringLiteral("%1-%2")
                    .arg(editor->textCursor().anchor())
                    .arg(editor->textCursor().position());
    }
    QCOMPARE(seen, results);
}

QTEST_MAIN(tst_SelectionSnapping)
#include "tst_selectionsnapping.moc"
