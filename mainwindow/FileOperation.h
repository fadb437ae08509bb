#pragma once

#include "dialogs/ProgressDialog.h"
#include "encryption/Result.h"
#include "encryption/StreamProgress.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QIODevice;

// Runs an encryption or decryption of a file for a window on a thread of its own, so that the
// window goes on repainting. While the work runs the window takes no input, as under a modal
// dialog; once it has taken half a second, a window-modal progress dialog shows how far it is,
// and its Cancel stops the work, which then cleans up its output as after a failure. One work at
// a time.
class FileOperation : public QObject
{
    Q_OBJECT

public:
    // Runs on the operation's thread. It reads `source` and must touch nothing else that the GUI
    // thread may change meanwhile; what it reads (a password holder above all) must stay as it
    // is until finished().
    using Work = std::function<Result(QIODevice& source, StreamProgress& progress)>;

    explicit FileOperation(QWidget* window);
    // Cancels a running work and waits for its thread, so that the work's output is removed and
    // nothing it reads goes away before it has ended.
    ~FileOperation() override;
    FileOperation(const FileOperation&) = delete;
    FileOperation& operator=(const FileOperation&) = delete;

    // Starts `work` on `source`, an open device that the operation owns from now on. `text` names
    // the work in the progress dialog, which counts the bytes read from `source` against its
    // size.
    void start(const QString& text, std::unique_ptr<QIODevice> source, Work work);
    [[nodiscard]] bool isRunning() const { return running; }
    // Shows the progress dialog now rather than later, while the work runs.
    void showProgress();
    // Lets input reach `widget` (and its children) in the window while the work runs, with the
    // progress dialog away meanwhile; null ends that. For the lock page.
    void letThrough(QWidget* widget);
    [[nodiscard]] const QWidget* progressDialog() const { return &dialog; }
    // Cancels a running work for a program about to end, and waits until its thread has cleaned
    // up or `deadline` has passed; finished() is not emitted for it any more. True when no work
    // is left running.
    bool cancelAndWait(QDeadlineTimer deadline);

signals:
    // The work has ended and its thread is gone; `result` is what the work returned, with
    // Outcome::Cancelled after a Cancel.
    void finished(const Result& result);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateProgress();
    void end();

    QWidget* const window;
    ProgressDialog dialog;
    QPointer<QWidget> passThrough;
    QTimer showTimer;
    QTimer updateTimer;
    QString text;
    quint64 total = 0;
    bool running = false;
    bool progressShown = false; // the dialog is due (hidden only while something is let through)
    bool abandoned = false;     // cancelled by cancelAndWait(): nobody waits for the end
    std::atomic<bool> workEnded{false}; // set by the work's thread as its last step
    std::unique_ptr<QIODevice> source;
    std::unique_ptr<StreamProgress> progress; // a fresh one per work
    Result result{Result::Outcome::UnknownError, {}};
    std::thread thread;
};
