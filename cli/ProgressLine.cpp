#include "ProgressLine.h"

#include "encryption/StreamProgress.h"

#include <QLocale>

#include <cerrno>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
constexpr auto showAfter = 500ms;
constexpr auto redrawEvery = 200ms;

void writeToStandardError(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, static_cast<std::size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // nowhere to tell it; the work goes on regardless
        data += written;
        left -= written;
    }
}

QString size(double bytes)
{
    return QLocale().formattedDataSize(static_cast<qint64>(bytes), 1);
}

} // namespace

ProgressLine::ProgressLine(const StreamProgress& followed, Work work, quint64 totalBytes, bool show)
    : progress(followed), total(totalBytes),
      format((work == Work::Encrypting   ? tr("Encrypting")
              : work == Work::Decrypting ? tr("Decrypting")
                                         : tr("Verifying")) +
             (totalBytes > 0 ? tr(": %1 of %2 (%3%), %4/s") : tr(": %1, %2/s"))),
      started(std::chrono::steady_clock::now())
{
    if (show)
        thread = std::thread(&ProgressLine::run, this);
}

ProgressLine::~ProgressLine()
{
    if (!thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

bool ProgressLine::wanted(bool quiet, bool writesStandardOutput)
{
    return !quiet && isatty(STDERR_FILENO) && !(writesStandardOutput && isatty(STDOUT_FILENO));
}

void ProgressLine::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (wake.wait_for(lock, showAfter, [this]() { return stopping; }))
        return; // over before anyone waited for it
    // A cancel (Ctrl-C) ends the line at once: the program may end before the work has.
    while (
        !wake.wait_for(lock, redrawEvery, [this]() { return stopping || progress.isCancelled(); }))
        draw(false);
    draw(true);
}

void ProgressLine::draw(bool last)
{
    const double done = static_cast<double>(progress.bytesRead());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const QString rate = size(seconds > 0 ? done / seconds : 0);
    QString text;
    if (total > 0) {
        const double share = qMin(1.0, done / static_cast<double>(total));
        text = format.arg(size(done), size(static_cast<double>(total)),
                          QString::number(static_cast<int>(share * 100)), rate);
    } else {
        text = format.arg(size(done), rate);
    }
    QByteArray line = '\r' + text.toUtf8();
    const int shown = text.size();
    if (shown < width)
        line += QByteArray(width - shown, ' ');
    width = shown;
    if (last)
        line += '\n';
    writeToStandardError(line);
}
