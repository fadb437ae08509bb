#pragma once

#include "WindowSystem.h"

// The layer for sessions without a backend (offscreen, Wayland compositors without the
// protocols): it finds no window, so Type Selection says so and types nothing.
class NullWindowSystem final : public WindowSystem
{
public:
    Window nextWindow(Window) override { return 0; }
    Window parentWindow(Window) override { return 0; }
    bool isWindowVisible(Window) override { return false; }
    void showWindow(Window) override {}
    bool setForegroundWindow(Window) override { return false; }
    void sleep(int milliseconds) override;
    quintptr messageExtraInfo() override { return 0; }
    int sendInput(const QVector<KeyRecord>&) override { return 0; }
};
