#pragma once

#include "WaylandToplevels.h"
#include "platform/WindowSystem.h"

#include <QString>

#include <memory>

class WaylandConnection;

// Type Selection on a Wayland compositor that lists toplevels and offers virtual keyboards
// (wlroots: sway, Hyprland, river, labwc, wayfire). The window behind is the toplevel that was
// active last before the program's own; the keys go through a virtual keyboard whose keymap
// holds exactly the characters to type.
class WaylandWindowSystem final : public WindowSystem
{
public:
    // A layer on the session's compositor, or null when it lacks either protocol. Every layer
    // of the process shares one connection, so the activation order is known from the first.
    static std::unique_ptr<WaylandWindowSystem> open();
    ~WaylandWindowSystem() override;

    Window nextWindow(Window window) override;
    // Type Selection passes over the program's own windows, dialogs included, so no parent
    // is needed to climb out of them.
    Window parentWindow(Window) override { return 0; }
    bool isWindowVisible(Window window) override;
    void showWindow(Window window) override;
    bool setForegroundWindow(Window window) override;
    // Keeps the toplevel list current meanwhile; the program's windows still wait.
    void sleep(int milliseconds) override;
    quintptr messageExtraInfo() override { return 0; }
    int sendInput(const QVector<KeyRecord>& records) override;
    bool activateOwnWindow(Window window) override;

    // Longest wait for the target to hold the focus before typing.
    static constexpr int focusWaitMs = 1000;
    // Receivers take a new keymap only after a moment; keys sent before it may be read with
    // the keymap they had.
    static constexpr int keymapSettleMs = 200;

    // The app id of the program's own toplevels (its desktop file name).
    static QString ownAppId();

private:
    explicit WaylandWindowSystem(std::shared_ptr<WaylandConnection> shared);
    bool activate(WaylandToplevels::Id id);

    std::shared_ptr<WaylandConnection> connection;
    WaylandToplevels::Id own = 0;
    WaylandToplevels::Id foreground = 0;
};
