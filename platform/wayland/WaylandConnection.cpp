#include "WaylandConnection.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cstring>
#include <poll.h>

namespace {

constexpr uint32_t toplevelManagerVersion = 2;

} // namespace

const wl_registry_listener WaylandConnection::registryListener = {
    &WaylandConnection::onGlobal,
    &WaylandConnection::onGlobalRemove,
};

std::unique_ptr<WaylandConnection> WaylandConnection::open()
{
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection);
    connection->display.reset(wl_display_connect(nullptr));
    if (!connection->display)
        return nullptr;
    connection->registry.reset(wl_display_get_registry(connection->display.get()));
    wl_registry_add_listener(connection->registry.get(), &registryListener, connection.get());
    // The first round trip lists the globals; the second brings the toplevels that exist.
    if (!connection->roundtrip() || !connection->seatProxy || !connection->keyboardManager ||
        !connection->toplevelList || !connection->roundtrip())
        return nullptr;

    const int fd = wl_display_get_fd(connection->display.get());
    connection->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(connection->notifier.get(), &QSocketNotifier::activated,
                     [raw = connection.get()] { raw->readEvents(0); });
    return connection;
}

WaylandConnection::~WaylandConnection()
{
    notifier.reset();
    // Proxies go before the connection they belong to.
    toplevelList.reset();
    keyboardManager.reset();
    seatProxy.reset();
    registry.reset();
}

void WaylandConnection::onGlobal(void* data, wl_registry* registry, uint32_t name,
                                 const char* interface, uint32_t version)
{
    auto* self = static_cast<WaylandConnection*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seatProxy) {
        // Only passed along in requests: version 1 is enough.
        self->seatProxy.reset(
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
               !self->keyboardManager) {
        self->keyboardManager.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1)));
    } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 &&
               !self->toplevelList) {
        auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                             std::min(version, toplevelManagerVersion)));
        self->toplevelList = std::make_unique<WaylandToplevels>(manager);
    }
}

void WaylandConnection::onGlobalRemove(void*, wl_registry*, uint32_t) {}

bool WaylandConnection::alive() const
{
    return wl_display_get_error(display.get()) == 0;
}

bool WaylandConnection::roundtrip()
{
    return wl_display_roundtrip(display.get()) >= 0;
}

void WaylandConnection::readEvents(int timeoutMs)
{
    wl_display* connection = display.get();
    if (!alive()) {
        // The compositor is gone or refused a request: nothing more will come.
        if (notifier)
            notifier->setEnabled(false);
        return;
    }
    // Events that an earlier round trip already read wait in the queue.
    while (wl_display_prepare_read(connection) != 0) {
        if (wl_display_dispatch_pending(connection) < 0)
            return;
    }
    wl_display_flush(connection);
    pollfd fd{wl_display_get_fd(connection), POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN) != 0) {
        wl_display_read_events(connection);
    } else {
        wl_display_cancel_read(connection);
    }
    wl_display_dispatch_pending(connection);
    if (!alive() && notifier)
        notifier->setEnabled(false);
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    wl_display_flush(display.get());
    while (!(done && done())) {
        if (!alive() || deadline.hasExpired())
            return false;
        readEvents(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

void WaylandConnection::dispatchFor(int milliseconds)
{
    dispatchUntil(nullptr, milliseconds);
}
