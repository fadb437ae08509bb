#include "FileOperation.h"

#include "LockController.h"

#include <QApplication>
#include <QEvent>
#include <QIODevice>
#include <QThread>

#include <cerrno>
#include <new>
#include <system_error>

namespace {

// A work shorter than this ends without a dialog showing up and going again.
constexpr int showAfterMs = 500;
constexpr int updateEveryMs = 100;

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

FileOperation::FileOperation(QWidget* parentWindow) : window(parentWindow), dialog(parentWindow)
{
    showTimer.setSingleShot(true);
    showTimer.setInterval(showAfterMs);
    updateTimer.setInterval(updateEveryMs);
    connect(&showTimer, &QTimer::timeout, this, &FileOperation::showProgress);
    connect(&updateTimer, &QTimer::timeout, this, &FileOperation::updateProgress);
    // Cancel or Escape: the work stops before its next read.
    connect(&dialog, &QDialog::rejected, this, [this]() {
        if (running)
            progress->cancel();
    });
}

FileOperation::~FileOperation()
{
    if (thread.joinable()) {
        progress->cancel();
        thread.join();
    }
    qApp->removeEventFilter(this);
}

void FileOperation::start(const QString& workText, std::unique_ptr<QIODevice> device, Work work)
{
    text = workText;
    source = std::move(device);
    total = source->isSequential() ? 0 : static_cast<quint64>(qMax<qint64>(0, source->size()));
    progress = std::make_unique<StreamProgress>();
    running = true;
    progressShown = false;
    abandoned = false;
    workEnded = false;
    qApp->installEventFilter(this);
    const auto run = [this, work]() {
        try {
            result = work(*source, *progress);
        } catch (const std::bad_alloc&) {
            // An image decrypted into memory, above all: a failure like any other.
            result = Result::outOfMemory();
        } catch (...) {
            result = {Result::Outcome::UnknownError, {}};
        }
    };
    try {
        thread = std::thread([this, run]() {
            run();
            workEnded = true;
            QMetaObject::invokeMethod(this, &FileOperation::end, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the work runs here, and the window waits for it as it must.
        run();
        QMetaObject::invokeMethod(this, &FileOperation::end, Qt::QueuedConnection);
        return;
    }
    showTimer.start();
}

void FileOperation::showProgress()
{
    if (!running || progress->isCancelled())
        return;
    showTimer.stop();
    progressShown = true;
    updateProgress();
    updateTimer.start();
    if (passThrough == nullptr && !dialog.isVisible())
        dialog.open();
}

void FileOperation::letThrough(QWidget* widget)
{
    passThrough = widget;
    // A dialog stays above its window, and would cover the page: it is away meanwhile (the
    // work is not cancelled), and back afterwards.
    if (widget != nullptr)
        dialog.hide();
    else if (progressShown)
        showProgress();
}

bool FileOperation::cancelAndWait(QDeadlineTimer deadline)
{
    if (!running)
        return true;
    abandoned = true;
    progress->cancel();
    // Not through the event loop: that would run what waits for the end, message boxes among it.
    while (!workEnded && !deadline.hasExpired())
        QThread::msleep(10);
    if (!workEnded)
        return false;
    if (thread.joinable())
        thread.join();
    return true;
}

void FileOperation::updateProgress()
{
    dialog.setProgress(text, progress->bytesRead(), total);
}

void FileOperation::end()
{
    if (thread.joinable())
        thread.join();
    running = false;
    showTimer.stop();
    updateTimer.stop();
    qApp->removeEventFilter(this);
    dialog.hide();
    source.reset();
    if (abandoned)
        return;
    // A copy: what the receiver does may start the next work before it is done with this one.
    const Result ended = result;
    emit finished(ended);
}

bool FileOperation::eventFilter(QObject* watched, QEvent* event)
{
    // The window's own widgets take no input; the progress dialog, a window of its own, does,
    // and so does the lock page, and the lock's key.
    if (!isInput(event->type()) || !watched->isWidgetType() ||
        static_cast<QWidget*>(watched)->window() != window || LockController::isLockKey(event))
        return false;
    if (passThrough != nullptr &&
        (watched == passThrough || passThrough->isAncestorOf(static_cast<QWidget*>(watched))))
        return false;
    // An accepted override keeps a key from triggering the window's shortcuts; the key itself
    // then goes nowhere either.
    event->accept();
    return true;
}
