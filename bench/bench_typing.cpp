// How fast Type Selection types on X11: a text of letters, digits, punctuation and a few
// characters off the US layout (on spare keycodes), typed through the X11 layer into a
// keyrecorder window on the X server in $DISPLAY. Reports the time sendInput takes and the time
// until the last character arrived, as medians of the rounds, against the goal of 2,000 characters
// within a second; every round checks that exactly the text arrived.
//
// Usage: tests/support/xvfb-session.sh bench_typing [CHARACTERS]   (default 2000); ROUNDS=5 in
// the environment.

#include "RecordingWindowSystem.h"
#include "platform/x11/X11WindowSystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int length = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    const int rounds =
        qEnvironmentVariableIsSet("ROUNDS") ? qEnvironmentVariableIntValue("ROUNDS") : 5;

    QProcess recorder;
    recorder.setReadChannel(QProcess::StandardError); // "READY <window>" comes there
    recorder.start(QCoreApplication::applicationDirPath() + "/../tests/keyrecorder/keyrecorder",
                   QStringList());
    if (!recorder.waitForStarted() || !recorder.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_typing: keyrecorder did not start (build it)\n");
        return 1;
    }
    const QList<QByteArray> ready = recorder.readLine().trimmed().split(' ');
    recorder.setReadChannel(QProcess::StandardOutput);
    auto layer = X11WindowSystem::open();
    if (ready.size() != 2 || layer == nullptr ||
        !layer->setForegroundWindow(ready.at(1).toULong())) {
        std::fprintf(stderr, "bench_typing: no window to type into\n");
        return 1;
    }

    const QString pool = QString::fromUtf8("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ012"
                                           "3456789!@#$%^&*()-=_+[]{};:,./<>?€äöüß");
    QString text;
    for (int i = 0; i < length; ++i)
        text += pool.at((i * 7) % pool.size());
    const QByteArray expected = text.toUtf8();

    std::vector<double> sending, arriving;
    for (int round = 0; round < rounds; ++round) {
        QByteArray typed;
        QElapsedTimer clock;
        clock.start();
        const int sent = layer->sendInput(keyRecords(text));
        sending.push_back(clock.nsecsElapsed() / 1e6);
        while (typed.size() < expected.size() && recorder.waitForReadyRead(10000))
            typed += recorder.readAllStandardOutput();
        arriving.push_back(clock.nsecsElapsed() / 1e6);
        if (sent != 2 * text.size() || typed != expected) {
            std::fprintf(stderr, "bench_typing: round %d: %d records sent, %d of %d bytes, %s\n",
                         round, sent, int(typed.size()), int(expected.size()),
                         typed == expected.left(typed.size()) ? "as typed" : "DIFFERENT");
            return 1;
        }
    }
    const double all = median(arriving);
    std::printf("%d characters, %d rounds (medians):\n", length, rounds);
    std::printf("  sendInput returns after   %8.1f ms\n", median(sending));
    std::printf("  last character arrived    %8.1f ms  (%.0f characters/s)\n", all,
                length / (all / 1000));
    std::printf("  2,000 characters take     %8.1f ms: %.2f of the one-second goal\n",
                all * 2000 / length, all * 2 / length);
    recorder.kill();
    recorder.waitForFinished();
    return 0;
}
