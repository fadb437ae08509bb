#pragma once

#include "WaylandProxy.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

// The toplevel windows of every client as the compositor lists them, and the order in which
// they were activated since this list began: on Wayland the focus order stands in for the
// stacking order, since no client may see where windows lie.
class WaylandToplevels
{
public:
    using Id = quintptr; // never reused; 0 is "none"

    explicit WaylandToplevels(zwlr_foreign_toplevel_manager_v1* manager);
    ~WaylandToplevels();
    WaylandToplevels(const WaylandToplevels&) = delete;
    WaylandToplevels& operator=(const WaylandToplevels&) = delete;

    // The toplevel that holds the activated state now, or 0.
    Id active() const;
    // The toplevel that was active most recently before `id` became active, passing over
    // those whose app id is `passOver`; 0 when none is known or `id` never was active.
    Id activeBefore(Id id, const QString& passOver) const;
    bool exists(Id id) const { return find(id) != nullptr; }
    bool isActivated(Id id) const;
    bool isMinimized(Id id) const;
    QString appId(Id id) const;
    // The compositor's handle for requests, or null when the toplevel has closed.
    zwlr_foreign_toplevel_handle_v1* handle(Id id) const;

private:
    struct Toplevel
    {
        WaylandToplevels* list = nullptr;
        Id id = 0;
        WaylandProxy<zwlr_foreign_toplevel_handle_v1> handle;
        QString appId;
        bool activated = false;
        bool minimized = false;
        bool pendingActivated = false;
        bool pendingMinimized = false;
        quint64 activatedAt = 0; // 0: never seen active
    };

    static const zwlr_foreign_toplevel_manager_v1_listener managerListener;
    static const zwlr_foreign_toplevel_handle_v1_listener handleListener;
    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                           zwlr_foreign_toplevel_handle_v1* handle);
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appId);
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* state);
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1* handle);
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle);

    const Toplevel* find(Id id) const;

    WaylandProxy<zwlr_foreign_toplevel_manager_v1> manager;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    Id lastId = 0;
    quint64 activations = 0;
};
