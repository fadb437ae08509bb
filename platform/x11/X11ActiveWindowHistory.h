#pragma once

#include "X11Handles.h"

#include <QVector>

#include <functional>
#include <memory>

struct _XDisplay;
class QSocketNotifier;

// The windows that held the window manager's _NET_ACTIVE_WINDOW, in the order they got it,
// followed over time. Under XWayland the window manager sets it to none while a Wayland-native
// window has the focus, which the X server cannot see; such a stretch is kept as an entry 0,
// so that the window active before the program's own is known even when it was not an X11
// window. A value that the history could not read in time counts as such a stretch too.
class X11ActiveWindowHistory
{
public:
    // The history of the session's display ($DISPLAY), shared by every caller while one holds
    // it, on a connection of its own; null when the display cannot be opened. It starts from
    // the active window now, and the changes are read from the event loop.
    static std::shared_ptr<X11ActiveWindowHistory> shared();
    ~X11ActiveWindowHistory();
    X11ActiveWindowHistory(const X11ActiveWindowHistory&) = delete;
    X11ActiveWindowHistory& operator=(const X11ActiveWindowHistory&) = delete;

    // Reads the changes that came since the last call.
    void update();
    // The window that was active just before `window` last became active, passing over
    // those for which `passOver` holds; 0 when a window outside the X server had the focus
    // then, or nothing is known.
    unsigned long activeBefore(unsigned long window,
                               const std::function<bool(unsigned long)>& passOver) const;

    // Entries kept; older ones are forgotten.
    static constexpr int capacity = 64;
    // The window manager passes the focus from one X11 window to the next through none; a
    // stretch without an X11 window this short is that hand-over, not a window the user saw.
    static constexpr unsigned long handOverMs = 100;

private:
    explicit X11ActiveWindowHistory(X11Display display);

    struct Entry
    {
        unsigned long window = 0;
        unsigned long since = 0; // server time of the change
    };

    void record(unsigned long window, unsigned long time);
    unsigned long activeWindow() const;
    QVector<unsigned long> readChanges();

    X11Display connection;
    _XDisplay* const display; // the connection's
    unsigned long activeAtom = 0;
    QVector<Entry> order; // oldest first
    std::unique_ptr<QSocketNotifier> notifier;
};
