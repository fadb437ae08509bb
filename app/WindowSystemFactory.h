#pragma once

#include "platform/WindowSystem.h"

#include <memory>

// Chooses the window-system layer of Type Selection for the running session: the one place that
// knows every backend. The application makes one for the process and hands it to each window.
class WindowSystemFactory
{
public:
    // Called first thing in main(), before the process protects itself: where the session will
    // type through the desktop's portal, opens the portal's connection while the portal can
    // still inspect the process (see PortalSession).
    static void prepare();

    // X11 when the application runs on xcb (following the active window under XWayland), Wayland
    // on compositors that list toplevels and offer virtual keyboards, the desktop's portal on
    // other Wayland compositors (natively, and under XWayland for windows that are not X11's),
    // otherwise one that finds no window (so Type Selection reports that instead of crashing).
    static std::shared_ptr<WindowSystem> create();

private:
    // A Wayland compositor runs that lists no toplevels or offers no virtual keyboards.
    static bool portalNeeded();
};
