// How the editor window behaves while Encrypt File works on a large file: the window asks for a
// repaint every 10 ms, as an animation or a user moving things over it would, and the bench
// counts the repaints it gets and the longest time between two turns of its event loop:
//   - through Encrypt File as the user runs it (the work on its own thread, progress dialog);
//   - with the same encryption called on the GUI thread, as the window used to run it;
//   - and the time from a click on Cancel until the operation has ended (status bar cleared).
// Medians of the rounds. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise
// (xcb on a real X server shows the window as a user sees it).
//
// Usage: bench_editor [DIR [MiB]]   (default: /dev/shm, 1024 MiB); ROUNDS=3 in the environment.

#include "ModalScript.h"
#include "TestSupport.h"
#include "dialogs/ProgressDialog.h"
#include "files/CryptoFile.h"
#include "mainwindow/Varnisk.h"
#include "securememory/SecureStringHolder.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Asks the editor for a repaint every 10 ms and records what the event loop made of it.
class Frames : public QObject
{
public:
    explicit Frames(QWidget* view) : target(view)
    {
        target->installEventFilter(this);
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this]() {
            longest = std::max(longest, clock.restart());
            target->update();
        });
    }
    void start()
    {
        paints = 0;
        longest = 0;
        clock.start();
        timer.start();
    }
    void stop() { timer.stop(); }

    int paints = 0;
    qint64 longest = 0; // ms between two ticks

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }

private:
    QWidget* target;
    QTimer timer;
    QElapsedTimer clock;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/dev/shm");
    const qint64 mebibytes = argc > 2 ? QByteArray(argv[2]).toLongLong() : 1024;
    const int rounds =
        qEnvironmentVariableIsSet("ROUNDS") ? qEnvironmentVariableIntValue("ROUNDS") : 3;
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTemporaryDir work(folder + QStringLiteral("/bench_editor.XXXXXX"));
    const QString source = work.filePath(QStringLiteral("plain"));
    const QString target = work.filePath(QStringLiteral("plain.sdat"));
    {
        QByteArray block(1 << 20, '\0');
        for (char& byte : block)
            byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly))
            return 2;
        for (qint64 i = 0; i < mebibytes; ++i)
            file.write(block);
    }

    Varnisk window(nullptr);
    window.show();
    Frames frames(window.findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"))->viewport());
    QElapsedTimer clock;

    // Typed into the confirmation dialog; `before` runs just before its Ok.
    const auto passwords = [](const std::function<void()>& before) {
        return [before](QWidget* dialog) {
            typeText(dialog->findChild<QWidget*>(QStringLiteral("slePassword")), "pw");
            typeText(dialog->findChild<QWidget*>(QStringLiteral("sleConfirm")), "pw");
            before();
            dialog->findChild<QPushButton*>(QStringLiteral("bOk"))->click();
        };
    };
    const auto encryptFile = [&]() {
        window.findChild<QAction*>(QStringLiteral("action_Encrypt"))->trigger();
    };

    // Encrypt File as the user runs it, from the password's Ok to the message at the end.
    std::vector<double> seconds, paintRate, stall;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(target);
        double taken = 0;
        ModalScript script;
        script.chooseFile(source).chooseFile(target).then(passwords([&]() {
            clock.start();
            frames.start();
        }));
        script.then([](QWidget*) {}); // the progress dialog
        script.then([&](QWidget* box) {
            taken = clock.elapsed() / 1000.0;
            frames.stop();
            static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
        });
        encryptFile();
        script.waitUntilDone(600000);
        seconds.push_back(taken);
        paintRate.push_back(frames.paints / taken);
        stall.push_back(static_cast<double>(frames.longest));
    }

    // The same encryption on the GUI thread, as the window used to run it.
    std::vector<double> syncSeconds, syncStall;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(target);
        QFile input(source);
        input.open(QIODevice::ReadOnly);
        SecureStringHolder password;
        password.string().assign("pw");
        frames.start();
        QTest::qWait(30);
        clock.start();
        if (!CryptoFile::encrypt(input, static_cast<quint64>(input.size()), target, password).ok())
            qFatal("the encryption on the GUI thread failed");
        syncSeconds.push_back(clock.elapsed() / 1000.0);
        QTest::qWait(30); // the overdue tick records the gap
        frames.stop();
        syncStall.push_back(static_cast<double>(frames.longest));
    }

    // Cancel half a second after the progress dialog showed, until the operation has ended and
    // cleared the status bar.
    std::vector<double> cancel;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(target);
        qint64 clicked = 0;
        qint64 ended = 0;
        const QMetaObject::Connection cleared = QObject::connect(
            window.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
                if (clicked != 0 && text.isEmpty())
                    ended = clock.nsecsElapsed();
            });
        ModalScript script;
        script.chooseFile(source).chooseFile(target).then(passwords([] {}));
        script.then([&](QWidget* dialog) {
            QTimer::singleShot(500, dialog, [&, dialog]() {
                clock.start();
                clicked = 1;
                dialog->findChild<QPushButton*>(QStringLiteral("bCancel"))->click();
            });
        });
        encryptFile();
        script.waitUntilDone(600000);
        if (!QTest::qWaitFor([&]() { return ended != 0; }, 60000))
            qWarning("the cancelled encryption did not end within a minute");
        QObject::disconnect(cleared);
        cancel.push_back(ended / 1e6);
    }

    std::printf("%lld MiB, %d rounds, medians (platform %s)\n", mebibytes, rounds,
                qPrintable(QApplication::platformName()));
    std::printf("Encrypt File, work on its own thread: %.2f s, %.0f repaints/s of 100 asked, "
                "longest event-loop gap %.0f ms\n",
                median(seconds), median(paintRate), median(stall));
    std::printf("same encryption on the GUI thread:    %.2f s, longest event-loop gap %.0f ms\n",
                median(syncSeconds), median(syncStall));
    std::printf("time of the threaded ÷ the GUI-thread encryption: %.2f\n",
                median(seconds) / median(syncSeconds));
    std::printf("Cancel to operation ended: %.1f ms\n", median(cancel));
    return 0;
}
