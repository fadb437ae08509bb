#pragma once

#include "platform/WindowSystem.h"

#include <memory>

// Type Selection under XWayland on a desktop whose compositor gives clients no window list
// (GNOME, KDE): an X11 window that had the focus before the program's own is typed into through
// X11, which can also type characters that the layout lacks; any other window, one that the X
// server cannot see, through the desktop's portal.
class XWaylandWindowSystem final : public WindowSystem
{
public:
    XWaylandWindowSystem(std::unique_ptr<WindowSystem> x11, std::unique_ptr<WindowSystem> portal);

    Window nextWindow(Window window) override;
    Window parentWindow(Window window) override { return chosen->parentWindow(window); }
    bool isWindowVisible(Window window) override { return chosen->isWindowVisible(window); }
    void showWindow(Window window) override { chosen->showWindow(window); }
    bool setForegroundWindow(Window window) override { return chosen->setForegroundWindow(window); }
    void sleep(int milliseconds) override { chosen->sleep(milliseconds); }
    quintptr messageExtraInfo() override { return chosen->messageExtraInfo(); }
    int sendInput(const QVector<KeyRecord>& records) override { return chosen->sendInput(records); }
    void restoreKeyboard() override;
    bool activateOwnWindow(Window window) override { return chosen->activateOwnWindow(window); }
    Refusal refusal() const override { return chosen->refusal(); }

private:
    const std::unique_ptr<WindowSystem> x11;
    const std::unique_ptr<WindowSystem> portal;
    WindowSystem* chosen; // the one for the window behind
};
