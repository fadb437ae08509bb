// Merge times for a 2 MB document (about 50,000 lines), against GNU diff3 -m -E on the same
// made-up files (GNU diff for the two-way cases, which diff3 has no mode for).
// Run: bench_merge [repetitions]
#include "merge/TextMerge.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

QByteArray word(QRandomGenerator& random, int length)
{
    QByteArray text(length, 'a');
    for (char& c : text)
        c = char('a' + random.bounded(26));
    return text;
}

// Entries of five lines, the last one blank, as a secrets document might hold them.
QByteArrayList document(QRandomGenerator& random, int entries)
{
    QByteArrayList lines;
    for (int entry = 0; entry < entries; ++entry) {
        lines << "[" + word(random, 24) + " " + QByteArray::number(entry) + "]\n"
              << "user: " + word(random, 20) + "\n"
              << "password: " + word(random, 48) + "\n"
              << "note: " + word(random, 20) + " " + word(random, 44) + "\n"
              << "\n";
    }
    return lines;
}

QByteArrayList scattered(QByteArrayList lines, QRandomGenerator& random, int edits)
{
    for (int edit = 0; edit < edits; ++edit) {
        const int at = random.bounded(lines.size());
        if (edit % 3 == 0)
            lines[at] = "changed: " + word(random, 30) + "\n";
        else if (edit % 3 == 1)
            lines.removeAt(at);
        else
            lines.insert(at, "added: " + word(random, 30) + "\n");
    }
    return lines;
}

double bestMs(int repetitions, const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

QString saved(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", name);
    return file.fileName();
}

void bench(const char* name, const QByteArray* base, const QByteArray& ours,
           const QByteArray& theirs, int repetitions)
{
    const TextMerge::Labels labels{"this window", "on disk"};
    TextMerge::Result result;
    const double ms = bestMs(repetitions, [&] {
        result = base ? TextMerge::threeWay(*base, ours, theirs, labels)
                      : TextMerge::twoWay(ours, theirs, labels);
    });
    QTemporaryDir dir;
    const QString program = base ? "diff3" : "diff";
    QStringList arguments{saved(dir, "ours", ours)};
    if (base)
        arguments =
            QStringList{"-m",   "-E", "-L",          labels.ours,  "-L",
                        "base", "-L", labels.theirs, arguments[0], saved(dir, "base", *base)};
    arguments << saved(dir, "theirs", theirs);
    QByteArray gnu;
    const double gnuMs = bestMs(repetitions, [&] {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(-1);
        gnu = process.readAllStandardOutput();
    });
    std::printf("%-30s %5d KiB %7.1f ms, %-5s %7.1f ms, ratio %5.2f; clashes %4d%s\n", name,
                int(ours.size() / 1024), ms, qPrintable(program), gnuMs, ms / gnuMs, result.clashes,
                base ? (gnu == result.text ? ", same bytes" : ", other bytes") : "");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QRandomGenerator random(42);
    const QByteArrayList lines = document(random, 10500);
    const QByteArray base = lines.join();
    const QByteArray ours = scattered(lines, random, 150).join();
    const QByteArray theirs = scattered(lines, random, 150).join();
    const QByteArray oursMany = scattered(lines, random, 2000).join();
    const QByteArray theirsMany = scattered(lines, random, 2000).join();
    const QByteArray other = document(random, 10500).join();
    QByteArrayList shuffled = lines;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    const QByteArray reordered = shuffled.join();
    std::printf("%d lines, %d bytes; best of %d\n", int(lines.size()), int(base.size()),
                repetitions);
    bench("three-way, 150 edits a side", &base, ours, theirs, repetitions);
    bench("two-way, same texts", nullptr, ours, theirs, repetitions);
    bench("three-way, 2000 edits a side", &base, oursMany, theirsMany, repetitions);
    bench("three-way, theirs unrelated", &base, ours, other, repetitions);
    bench("two-way, unrelated", nullptr, ours, other, repetitions);
    bench("three-way, theirs reordered", &base, ours, reordered, repetitions);
    bench("two-way, reordered", nullptr, ours, reordered, repetitions);
    return 0;
}
