#include "WindowSystem.h"

#include "NullWindowSystem.h"
#include "X11WindowSystem.h"

#include <QGuiApplication>
#include <QThread>

std::unique_ptr<WindowSystem> WindowSystem::create()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto x11 = X11WindowSystem::open())
            return x11;
    }
    return std::make_unique<NullWindowSystem>();
}

void NullWindowSystem::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}
