#include "NullWindowSystem.h"

#include <QThread>

void NullWindowSystem::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}
