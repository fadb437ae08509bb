#pragma once

#include "X11Handles.h"
#include "platform/WindowSystem.h"

#include <QVector>

#include <memory>

class X11ActiveWindowHistory;
struct _XDisplay;

// Type Selection on an X11 display: finds the window behind by the window manager's stacking
// list (or the server's stacking order without one), focuses it, and types through XTest
// only while that window still holds the focus. Under XWayland, where Wayland-native windows
// lie between the X11 ones unseen, the window behind is the one that was active just before
// the program's own, and none when that was a Wayland-native window.
class X11WindowSystem final : public WindowSystem
{
public:
    enum class Session
    {
        X11,
        XWayland
    };

    // A layer on the session's display ($DISPLAY), or null when it cannot be opened.
    static std::unique_ptr<X11WindowSystem> open(Session session = Session::X11);
    ~X11WindowSystem() override;

    Window nextWindow(Window window) override;
    Window parentWindow(Window window) override;
    bool isWindowVisible(Window window) override;
    void showWindow(Window window) override;
    bool setForegroundWindow(Window window) override;
    void sleep(int milliseconds) override;
    quintptr messageExtraInfo() override { return 0; }
    int sendInput(const QVector<KeyRecord>& records) override;
    void restoreKeyboard() override;

    // Longest wait for the user's modifier keys to be released before typing.
    static constexpr int modifierReleaseWaitMs = 1000;

private:
    explicit X11WindowSystem(X11Display display);
    Window activeBefore(Window window) const;

    unsigned long atom(const char* name) const;
    bool windowManagerRunning() const;
    bool windowManagerSupports(const char* atomName) const;
    bool isManagedClient(Window window) const;
    bool managedStacking(QVector<Window>& windows) const;
    Window rootChild(Window window) const;
    bool focusIsInForeground() const;

    X11Display connection;
    _XDisplay* const display; // the connection's
    Window root = 0;
    Window foreground = 0;
    std::shared_ptr<X11ActiveWindowHistory> history; // under XWayland only
};
