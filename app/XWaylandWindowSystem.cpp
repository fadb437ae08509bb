#include "XWaylandWindowSystem.h"

XWaylandWindowSystem::XWaylandWindowSystem(std::unique_ptr<WindowSystem> x11System,
                                           std::unique_ptr<WindowSystem> portalSystem)
    : x11(std::move(x11System)), portal(std::move(portalSystem)), chosen(x11.get())
{}

WindowSystem::Window XWaylandWindowSystem::nextWindow(Window window)
{
    // X11 knows when the window before was one of its own; none means a Wayland window.
    const Window behind = x11->nextWindow(window);
    chosen = behind != 0 ? x11.get() : portal.get();
    return behind != 0 ? behind : portal->nextWindow(window);
}

void XWaylandWindowSystem::restoreKeyboard()
{
    x11->restoreKeyboard();
    portal->restoreKeyboard();
}
