#include "merge/TextMerge.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// The merged bytes for each kind of change, and the same result as GNU diff3 on made-up texts.
class TestTextMerge : public QObject
{
    Q_OBJECT

private slots:
    void merges_data();
    void merges();
    void matchesGnuDiff3_data();
    void matchesGnuDiff3();
};

namespace {

const TextMerge::Labels labels{"ours", "theirs"};

QByteArray clash(const QByteArray& ours, const QByteArray& theirs, const QByteArray& eol = "\n")
{
    return "<<<<<<< ours" + eol + ours + "=======" + eol + theirs + ">>>>>>> theirs" + eol;
}

// `edits` changes at random places, in turn a replaced, a deleted and a new line, each new line
// named after its side and edit.
QByteArrayList edited(QByteArrayList lines, const QByteArray& side, QRandomGenerator random,
                      int edits)
{
    for (int edit = 0; edit < edits; ++edit) {
        const int at = random.bounded(lines.size());
        if (edit % 3 != 2)
            lines.removeAt(at);
        if (edit % 3 != 1)
            lines.insert(at, side + ' ' + QByteArray::number(edit) + '\n');
    }
    return lines;
}

} // namespace

void TestTextMerge::merges_data()
{
    QTest::addColumn<QByteArray>("base"); // null: a two-way merge
    QTest::addColumn<QByteArray>("ours");
    QTest::addColumn<QByteArray>("theirs");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("clashes"); // -1: refused
    const auto row = [](const char* name, const QByteArray& base, const QByteArray& ours,
                        const QByteArray& theirs, const QByteArray& expected, int clashes) {
        QTest::newRow(name) << base << ours << theirs << expected << clashes;
    };
    row("separate lines", "a\nb\nc\nd\n", "A\nb\nc\nd\n", "a\nb\nc\nD\n", "A\nb\nc\nD\n", 0);
    row("same change", "a\nb\nc\n", "a\nB\nc\n", "a\nB\nc\n", "a\nB\nc\n", 0);
    row("adjacent lines", "a\nb\nc\nd\n", "a\nB\nc\nd\n", "a\nb\nC\nd\n",
        "a\n" + clash("B\nc\n", "b\nC\n") + "d\n", 1);
    row("edit against deletion", "a\nb\nc\n", "a\nB\nc\n", "a\nc\n",
        "a\n" + clash("B\n", "") + "c\n", 1);
    row("two clashes", "a\nb\nc\nd\n", "a\nB\nc\nD\n", "a\nb2\nc\nd2\n",
        "a\n" + clash("B\n", "b2\n") + "c\n" + clash("D\n", "d2\n"), 2);
    row("additions at both ends", "m\n", "top\nm\n", "m\nend\n", "top\nm\nend\n", 0);
    row("empty base", "", "x\n", "y\n", clash("x\n", "y\n"), 1);
    row("empty ours", "a\nb\n", "", "a\nB\n", clash("", "a\nB\n"), 1);
    row("all empty", "", "", "", "", 0);
    // A side emptied by a fault (a truncated file) must not win silently.
    row("emptied on disk", "a\n", "a\n", "", "", -1);
    row("CRLF lines", "a\r\nb\r\nc\r\n", "A\r\nb\r\nc\r\n", "a\r\nb\r\nC\r\n", "A\r\nb\r\nC\r\n",
        0);
    row("CRLF clash", "a\r\nb\r\n", "a\r\nX\r\n", "a\r\nY\r\n",
        "a\r\n" + clash("X\r\n", "Y\r\n", "\r\n"), 1);
    row("no final newline", "a\nb\n", "A\nb\n", "a\nb\nc", "A\nb\nc", 0);
    row("no final newline, clash", "a\nb", "a\nX", "a\nY", "a\n" + clash("X\n", "Y\n"), 1);
    const QByteArray zero("a\0b\n", 4);
    row("zero byte in base", zero, "a\n", "a\n", "", -1);
    row("zero byte in ours", "a\n", zero, "a\n", "", -1);
    row("zero byte in theirs", "a\n", "a\n", zero, "", -1);
    // Random orders of four lines: the diff search passes its cost cap and settles for a coarser
    // diff, through which one side's change must still come unchanged.
    QRandomGenerator random(6000);
    QByteArray before;
    QByteArray after;
    for (int line = 0; line < 12000; ++line)
        (line % 2 ? after : before) += QByteArray(1, char('a' + random.bounded(4))) + '\n';
    row("past the cost cap", before, before, after, after, 0);
    const QByteArray noBase; // a conflicting copy
    row("two-way, lines one side has", noBase, "a\nX\nc\n", "a\nc\nd\n", "a\nX\nc\nd\n", 0);
    row("two-way, deleted line comes back", noBase, "a\nb\nc\n", "a\nc\n", "a\nb\nc\n", 0);
    row("two-way, differing lines", noBase, "a\nX\nc\n", "a\nY\nc\n",
        "a\n" + clash("X\n", "Y\n") + "c\n", 1);
    row("two-way, zero byte", noBase, zero, "a\n", "", -1);
}

void TestTextMerge::merges()
{
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, ours);
    QFETCH(QByteArray, theirs);
    QFETCH(QByteArray, expected);
    QFETCH(int, clashes);
    const TextMerge::Result result = base.isNull()
                                         ? TextMerge::twoWay(ours, theirs, labels)
                                         : TextMerge::threeWay(base, ours, theirs, labels);
    QCOMPARE(result.ok, clashes >= 0);
    QCOMPARE(result.text, expected);
    QCOMPARE(result.clashes, std::max(clashes, 0));
}

void TestTextMerge::matchesGnuDiff3_data()
{
    merges_data();
    // Scattered edits, some adjacent, some made alike on both sides. Every line is distinct, so
    // the shortest diff is unique and both tools must find the same one.
    QByteArrayList base;
    for (int line = 0; line < 40; ++line)
        base << "line " + QByteArray::number(line) + '\n';
    QRandomGenerator random(1234);
    for (int row = 0; row < 30; ++row) {
        const QRandomGenerator both(random.generate()), ours(random.generate());
        const QRandomGenerator theirs(random.generate());
        const QByteArrayList shared = edited(base, "both", both, 2);
        QTest::addRow("edited %d", row)
            << base.join() << edited(shared, "ours", ours, 5).join()
            << edited(shared, "theirs", theirs, 5).join() << QByteArray() << 0;
    }
}

void TestTextMerge::matchesGnuDiff3()
{
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, ours);
    QFETCH(QByteArray, theirs);
    QFETCH(int, clashes);
    // GNU diff3 ends marker lines with LF alone and glues a marker to a clash side that lacks a
    // final newline; it never refuses and has no two-way merge.
    const QStringList different{"CRLF clash", "no final newline, clash"};
    if (base.isNull() || clashes < 0 || different.contains(QTest::currentDataTag()))
        QSKIP("GNU diff3 differs here by design");
    QTemporaryDir dir;
    QStringList arguments{"-m", "-E", "-L", "ours", "-L", "base", "-L", "theirs"};
    for (const QByteArray* text : {&ours, &base, &theirs}) {
        QFile file(dir.filePath(QString::number(arguments.size())));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(*text) == text->size());
        arguments << file.fileName();
    }
    // -E: markers for clashes only, without the base's lines; changes made alike merge quietly.
    QProcess diff3;
    diff3.start("diff3", arguments);
    QVERIFY(diff3.waitForFinished());
    const TextMerge::Result result = TextMerge::threeWay(base, ours, theirs, labels);
    QCOMPARE(result.text, diff3.readAllStandardOutput());
    QCOMPARE(diff3.exitCode(), result.clashes > 0 ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestTextMerge)
#include "tst_textmerge.moc"
