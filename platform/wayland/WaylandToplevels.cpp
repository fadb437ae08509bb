#include "WaylandToplevels.h"

#include <algorithm>

namespace {

void ignoreString(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void ignoreOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void ignoreParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

} // namespace

const zwlr_foreign_toplevel_manager_v1_listener WaylandToplevels::managerListener = {
    &WaylandToplevels::onToplevel,
    &WaylandToplevels::onFinished,
};

const zwlr_foreign_toplevel_handle_v1_listener WaylandToplevels::handleListener = {
    &ignoreString,               // title
    &WaylandToplevels::onAppId,  // app_id
    &ignoreOutput,               // output_enter
    &ignoreOutput,               // output_leave
    &WaylandToplevels::onState,  // state
    &WaylandToplevels::onDone,   // done
    &WaylandToplevels::onClosed, // closed
    &ignoreParent,               // parent (not sent at the version bound)
};

WaylandToplevels::WaylandToplevels(zwlr_foreign_toplevel_manager_v1* toplevelManager)
    : manager(toplevelManager)
{
    zwlr_foreign_toplevel_manager_v1_add_listener(manager.get(), &managerListener, this);
}

WaylandToplevels::~WaylandToplevels() = default;

void WaylandToplevels::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                  zwlr_foreign_toplevel_handle_v1* handle)
{
    auto* self = static_cast<WaylandToplevels*>(data);
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->list = self;
    toplevel->id = ++self->lastId;
    toplevel->handle.reset(handle);
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, toplevel.get());
    self->toplevels.push_back(std::move(toplevel));
}

void WaylandToplevels::onFinished(void* data, zwlr_foreign_toplevel_manager_v1*)
{
    // The compositor lists nothing more; what was listed stays until it closes.
    static_cast<WaylandToplevels*>(data)->manager.reset();
}

void WaylandToplevels::onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId)
{
    static_cast<Toplevel*>(data)->appId = QString::fromUtf8(appId);
}

void WaylandToplevels::onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* state)
{
    auto* toplevel = static_cast<Toplevel*>(data);
    toplevel->pendingActivated = false;
    toplevel->pendingMinimized = false;
    const auto* values = static_cast<const uint32_t*>(state->data);
    for (size_t i = 0; i < state->size / sizeof(uint32_t); ++i) {
        if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
            toplevel->pendingActivated = true;
        else if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED)
            toplevel->pendingMinimized = true;
    }
}

void WaylandToplevels::onDone(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    auto* toplevel = static_cast<Toplevel*>(data);
    if (toplevel->pendingActivated && !toplevel->activated)
        toplevel->activatedAt = ++toplevel->list->activations;
    toplevel->activated = toplevel->pendingActivated;
    toplevel->minimized = toplevel->pendingMinimized;
}

void WaylandToplevels::onClosed(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    auto* toplevel = static_cast<Toplevel*>(data);
    auto& list = toplevel->list->toplevels;
    list.erase(std::find_if(list.begin(), list.end(),
                            [toplevel](const auto& item) { return item.get() == toplevel; }));
}

const WaylandToplevels::Toplevel* WaylandToplevels::find(Id id) const
{
    for (const auto& toplevel : toplevels) {
        if (toplevel->id == id)
            return toplevel.get();
    }
    return nullptr;
}

WaylandToplevels::Id WaylandToplevels::active() const
{
    for (const auto& toplevel : toplevels) {
        if (toplevel->activated)
            return toplevel->id;
    }
    return 0;
}

WaylandToplevels::Id WaylandToplevels::activeBefore(Id id, const QString& passOver) const
{
    const Toplevel* later = find(id);
    if (later == nullptr || later->activatedAt == 0)
        return 0;
    const Toplevel* best = nullptr;
    for (const auto& toplevel : toplevels) {
        if (toplevel->activatedAt == 0 || toplevel->activatedAt >= later->activatedAt ||
            toplevel->appId == passOver)
            continue;
        if (best == nullptr || toplevel->activatedAt > best->activatedAt)
            best = toplevel.get();
    }
    return best != nullptr ? best->id : 0;
}

bool WaylandToplevels::isActivated(Id id) const
{
    const Toplevel* toplevel = find(id);
    return toplevel != nullptr && toplevel->activated;
}

bool WaylandToplevels::isMinimized(Id id) const
{
    const Toplevel* toplevel = find(id);
    return toplevel != nullptr && toplevel->minimized;
}

QString WaylandToplevels::appId(Id id) const
{
    const Toplevel* toplevel = find(id);
    return toplevel != nullptr ? toplevel->appId : QString();
}

zwlr_foreign_toplevel_handle_v1* WaylandToplevels::handle(Id id) const
{
    const Toplevel* toplevel = find(id);
    return toplevel != nullptr ? toplevel->handle.get() : nullptr;
}
