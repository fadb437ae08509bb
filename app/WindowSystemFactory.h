#pragma once

#include "platform/WindowSystem.h"

#include <memory>

// Chooses the window-system layer of Type Selection for the running session: the one place that
// knows every backend. The application makes one for the process and hands it to each window.
class WindowSystemFactory
{
public:
    // X11 when the application runs on xcb (following the active window under XWayland), Wayland
    // on compositors that list toplevels and offer virtual keyboards, otherwise one that finds no
    // window (so Type Selection reports that instead of crashing).
    static std::shared_ptr<WindowSystem> create();
};
