#include "WindowSystemFactory.h"

#include "platform/NullWindowSystem.h"

#ifdef VARNISK_WITH_X11
#include "platform/x11/X11WindowSystem.h"
#endif
#ifdef VARNISK_WITH_WAYLAND
#include "platform/wayland/WaylandWindowSystem.h"
#endif

#include <QGuiApplication>

std::shared_ptr<WindowSystem> WindowSystemFactory::create()
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
    return std::make_shared<NullWindowSystem>();
}
