#include "WindowSystem.h"

#include "NullWindowSystem.h"

#ifdef VARNISK_WITH_X11
#include "X11WindowSystem.h"
#endif

#include <QGuiApplication>
#include <QThread>

std::unique_ptr<WindowSystem> WindowSystem::create()
{
#ifdef VARNISK_WITH_X11
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto x11 = X11WindowSystem::open())
            return x11;
    }
#endif
    return std::make_unique<NullWindowSystem>();
}

void NullWindowSystem::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}
