#include "WindowSystem.h"

#include "NullWindowSystem.h"

#ifdef VARNISK_WITH_X11
#include "X11WindowSystem.h"
#endif
#ifdef VARNISK_WITH_WAYLAND
#include "WaylandWindowSystem.h"
#endif

#include <QGuiApplication>
#include <QThread>

std::unique_ptr<WindowSystem> WindowSystem::create()
{
    const QString platform = QGuiApplication::platformName();
#ifdef VARNISK_WITH_X11
    if (platform == QLatin1String("xcb")) {
        // Under XWayland the X server sees only its own windows, not the Wayland-native ones
        // that may lie between them.
        const auto session = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                 ? X11WindowSystem::Session::X11
                                 : X11WindowSystem::Session::XWayland;
        if (auto x11 = X11WindowSystem::open(session))
            return x11;
    }
#endif
#ifdef VARNISK_WITH_WAYLAND
    if (platform.startsWith(QLatin1String("wayland"))) {
        if (auto wayland = WaylandWindowSystem::open())
            return wayland;
    }
#endif
    return std::make_unique<NullWindowSystem>();
}

void NullWindowSystem::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}
