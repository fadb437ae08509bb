#pragma once

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class StreamProgress;

// How far a long encryption or decryption has come, on standard error: one line, rewritten in
// place a few times a second, with the bytes read, the total where it is known and the rate. It
// appears once the work has taken half a second, and is ended with a line break as soon as the
// work ends, fails or is cancelled, so that whatever follows starts on a line of its own.
class ProgressLine
{
    Q_DECLARE_TR_FUNCTIONS(ProgressLine)

public:
    enum class Work
    {
        Encrypting,
        Decrypting,
        Verifying, // the first pass of decrypt -o -, which writes nothing
    };

    // Follows `progress` on a thread of its own if `show`; `total` is the number of bytes the
    // work reads in all, 0 when unknown.
    ProgressLine(const StreamProgress& progress, Work work, quint64 total, bool show);
    // Ends the line, if one was shown.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // A line is wanted when standard error is a terminal, not told to be quiet, and not one
    // that shows the plaintext on standard output as well.
    static bool wanted(bool quiet, bool writesStandardOutput);

private:
    void run();
    void draw(bool last);

    const StreamProgress& progress;
    const quint64 total;
    const QString format; // %1 done, then %2 total, %3 percent and %4 rate, or %2 rate
    const std::chrono::steady_clock::time_point started;
    int width = 0; // of the line drawn last, to be blanked out by a shorter one
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
