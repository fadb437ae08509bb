#pragma once

#include <QIODevice>

// A write-only device that takes every byte and keeps none: the sink of a pass that only
// checks a file's digest.
class NullDevice : public QIODevice
{
    Q_OBJECT

public:
    using QIODevice::QIODevice;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;
};
