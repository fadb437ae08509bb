#pragma once

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <memory>

// Releases a Wayland object the way its interface asks for: with its destructor request where
// the protocol has one, otherwise by forgetting the proxy.
struct WaylandProxyDeleter
{
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
    void operator()(wl_registry* registry) const { wl_registry_destroy(registry); }
    void operator()(wl_seat* seat) const { wl_seat_destroy(seat); }
    void operator()(zwlr_foreign_toplevel_manager_v1* manager) const
    {
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
    }
    void operator()(zwlr_foreign_toplevel_handle_v1* handle) const
    {
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    }
    void operator()(zwp_virtual_keyboard_manager_v1* manager) const
    {
        zwp_virtual_keyboard_manager_v1_destroy(manager);
    }
    void operator()(zwp_virtual_keyboard_v1* keyboard) const
    {
        zwp_virtual_keyboard_v1_destroy(keyboard);
    }
};

template <typename T> using WaylandProxy = std::unique_ptr<T, WaylandProxyDeleter>;
