#pragma once

#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

#include <atomic>

class VarniskApplication;

// Hands queued open requests to the GUI thread one at a time, in the order they came. It only
// waits and emits: every file is checked and opened on the GUI thread.
class WorkerThread : public QThread
{
    Q_OBJECT

public:
    explicit WorkerThread(VarniskApplication* application);
    ~WorkerThread() override;

    // Queues one file name (GUI thread); never blocks beyond the list lock.
    void enqueue(const QString& filename);
    // Makes the thread end at its next wake-up and wakes it; names still queued are dropped.
    void stop();

signals:
    void open(QString filename);

protected:
    void run() override;

private:
    VarniskApplication* application;
    QStringList fileNames;
    QMutex mutex;
    QSemaphore semaphore;
    std::atomic<bool> stopping{false};
};
