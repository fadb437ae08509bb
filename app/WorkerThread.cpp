#include "WorkerThread.h"

#include "VarniskApplication.h"

#include <QMutexLocker>

WorkerThread::WorkerThread(VarniskApplication* receiver)
    : QThread(nullptr), application(receiver), semaphore(0)
{
    connect(this, &WorkerThread::open, application, &VarniskApplication::open);
}

WorkerThread::~WorkerThread() = default;

void WorkerThread::enqueue(const QString& filename)
{
    {
        QMutexLocker lock(&mutex);
        fileNames.append(filename);
    }
    semaphore.release(1);
}

void WorkerThread::stop()
{
    stopping = true;
    semaphore.release(1);
}

void WorkerThread::run()
{
    for (;;) {
        semaphore.acquire(1);
        QString name;
        {
            QMutexLocker lock(&mutex);
            if (stopping || fileNames.isEmpty())
                return;
            name = fileNames.takeFirst();
        }
        emit open(name);
    }
}
