#include "NullDevice.h"

qint64 NullDevice::readData(char*, qint64)
{
    return -1;
}

qint64 NullDevice::writeData(const char*, qint64 size)
{
    return size;
}
