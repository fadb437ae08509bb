#pragma once

#include "WaylandProxy.h"
#include "WaylandToplevels.h"

#include <functional>
#include <memory>

class QSocketNotifier;

// The program's own connection to the Wayland compositor (beside the toolkit's), with the
// seat and the two protocols Type Selection needs: the list of toplevels, kept current from
// the event loop, and virtual keyboards.
class WaylandConnection
{
public:
    // A connection to $WAYLAND_DISPLAY, or null when there is none or the compositor lacks a
    // seat, the toplevel list or virtual keyboards.
    static std::unique_ptr<WaylandConnection> open();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    WaylandToplevels& toplevels() { return *toplevelList; }
    wl_seat* seat() const { return seatProxy.get(); }
    zwp_virtual_keyboard_manager_v1* keyboards() const { return keyboardManager.get(); }

    // False once the connection failed (the compositor went away or refused a request).
    bool alive() const;
    // Sends what was requested and waits until the compositor handled it.
    bool roundtrip();
    // Handles the compositor's events for `milliseconds`, or until `done` holds; returns
    // whether `done` held.
    bool dispatchUntil(const std::function<bool()>& done, int milliseconds);
    void dispatchFor(int milliseconds);

private:
    WaylandConnection() = default;
    static const wl_registry_listener registryListener;
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                         uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, uint32_t name);
    void readEvents(int timeoutMs);

    WaylandProxy<wl_display> display;
    WaylandProxy<wl_registry> registry;
    WaylandProxy<wl_seat> seatProxy;
    WaylandProxy<zwp_virtual_keyboard_manager_v1> keyboardManager;
    std::unique_ptr<WaylandToplevels> toplevelList;
    std::unique_ptr<QSocketNotifier> notifier;
};
