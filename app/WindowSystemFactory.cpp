#include "WindowSystemFactory.h"

#include "platform/NullWindowSystem.h"

#ifdef VARNISK_WITH_X11
#include "app/XWaylandWindowSystem.h"
#include "platform/x11/X11WindowSystem.h"
#endif
#ifdef VARNISK_WITH_WAYLAND
#include "platform/portal/PortalSession.h"
#include "platform/portal/PortalWindowSystem.h"
#include "platform/portal/SeatKeymap.h"
#include "platform/wayland/WaylandWindowSystem.h"
#endif

#include <QGuiApplication>

#include <optional>

bool WindowSystemFactory::portalNeeded()
{
#ifdef VARNISK_WITH_WAYLAND
    static std::optional<bool> needed;
    if (!needed) {
        const QStringList interfaces =
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                    qgetenv("XDG_SESSION_TYPE") != QByteArrayLiteral("wayland")
                ? QStringList()
                : SeatKeymap::compositorInterfaces();
        needed = !interfaces.isEmpty() &&
                 !(interfaces.contains(QLatin1String("zwlr_foreign_toplevel_manager_v1")) &&
                   interfaces.contains(QLatin1String("zwp_virtual_keyboard_manager_v1")));
    }
    return *needed;
#else
    return false;
#endif
}

void WindowSystemFactory::prepare()
{
#ifdef VARNISK_WITH_WAYLAND
    if (portalNeeded())
        PortalSession::connectEarly();
#endif
}

std::shared_ptr<WindowSystem> WindowSystemFactory::create()
{
    const QString platform = QGuiApplication::platformName();
#ifdef VARNISK_WITH_X11
    if (platform == QLatin1String("xcb")) {
        // Under XWayland the X server sees only its own windows, not the Wayland-native ones
        // that may lie between them.
        const bool xwayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
        std::unique_ptr<WindowSystem> x11 = X11WindowSystem::open(
            xwayland ? X11WindowSystem::Session::XWayland : X11WindowSystem::Session::X11);
#ifdef VARNISK_WITH_WAYLAND
        if (x11 && xwayland && portalNeeded())
            return std::make_shared<XWaylandWindowSystem>(std::move(x11),
                                                          std::make_unique<PortalWindowSystem>());
#endif
        if (x11)
            return x11;
    }
#endif
#ifdef VARNISK_WITH_WAYLAND
    if (platform.startsWith(QLatin1String("wayland"))) {
        if (auto wayland = WaylandWindowSystem::open())
            return wayland;
        if (portalNeeded())
            return std::make_shared<PortalWindowSystem>();
    }
#endif
    return std::make_shared<NullWindowSystem>();
}
