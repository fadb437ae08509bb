#include "WaylandWindowSystem.h"

#include "WaylandConnection.h"
#include "WaylandKeymap.h"
#include "files/FileDescriptor.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr uint32_t keymapFormatXkbText = WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1;
constexpr uint32_t keyPressed = 1;
constexpr uint32_t keyReleased = 0;

// The keymap in an anonymous file that nobody can change once it is shared, as the protocol
// asks of keymap files.
FileDescriptor sealedFile(const QByteArray& text)
{
    FileDescriptor file(memfd_create("varnisk-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (file.get() < 0)
        return FileDescriptor(-1);
    qsizetype written = 0;
    while (written < text.size()) {
        const ssize_t n = write(file.get(), text.constData() + written,
                                static_cast<size_t>(text.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FileDescriptor(-1);
        written += n;
    }
    if (fcntl(file.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) !=
        0)
        return FileDescriptor(-1);
    return file;
}

uint32_t milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

} // namespace

std::unique_ptr<WaylandWindowSystem> WaylandWindowSystem::open()
{
    static std::weak_ptr<WaylandConnection> shared;
    std::shared_ptr<WaylandConnection> connection = shared.lock();
    if (!connection || !connection->alive()) {
        connection = WaylandConnection::open();
        if (!connection)
            return nullptr;
        shared = connection;
    }
    return std::unique_ptr<WaylandWindowSystem>(new WaylandWindowSystem(std::move(connection)));
}

WaylandWindowSystem::WaylandWindowSystem(std::shared_ptr<WaylandConnection> sharedConnection)
    : connection(std::move(sharedConnection))
{}

WaylandWindowSystem::~WaylandWindowSystem() = default;

QString WaylandWindowSystem::ownAppId()
{
    QString name = QGuiApplication::desktopFileName();
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    return name;
}

WaylandWindowSystem::Window WaylandWindowSystem::nextWindow(Window)
{
    own = 0;
    foreground = 0;
    if (!connection->roundtrip())
        return 0;
    // The shortcut was pressed in one of the program's windows, so that one is active; it is
    // recognised by its app id, since two windows may share a title.
    WaylandToplevels& toplevels = connection->toplevels();
    const QString appId = ownAppId();
    const WaylandToplevels::Id active = toplevels.active();
    if (appId.isEmpty() || active == 0 || toplevels.appId(active) != appId)
        return 0;
    own = active;
    return toplevels.activeBefore(active, appId);
}

bool WaylandWindowSystem::isWindowVisible(Window window)
{
    return window != 0 && connection->alive() && connection->toplevels().exists(window);
}

void WaylandWindowSystem::showWindow(Window window)
{
    WaylandToplevels& toplevels = connection->toplevels();
    if (toplevels.isMinimized(window)) {
        if (auto* handle = toplevels.handle(window))
            zwlr_foreign_toplevel_handle_v1_unset_minimized(handle);
    }
}

bool WaylandWindowSystem::activate(WaylandToplevels::Id id)
{
    auto* handle = connection->toplevels().handle(id);
    if (handle == nullptr)
        return false;
    zwlr_foreign_toplevel_handle_v1_activate(handle, connection->seat());
    return connection->roundtrip();
}

bool WaylandWindowSystem::setForegroundWindow(Window window)
{
    foreground = window;
    return activate(window);
}

bool WaylandWindowSystem::activateOwnWindow(Window)
{
    return own != 0 && activate(own);
}

void WaylandWindowSystem::sleep(int milliseconds)
{
    const QDeadlineTimer deadline(qMax(0, milliseconds));
    connection->dispatchFor(qMax(0, milliseconds));
    // A connection that failed returns at once; the wait is still owed.
    QThread::msleep(static_cast<unsigned long>(qMax<qint64>(0, deadline.remainingTime())));
}

int WaylandWindowSystem::sendInput(const QVector<KeyRecord>& records)
{
    WaylandToplevels& toplevels = connection->toplevels();
    const auto targetHasFocus = [&] { return toplevels.isActivated(foreground); };
    QVector<WaylandKeymap> keymaps;
    if (foreground == 0 || !WaylandKeymap::fromRecords(records, keymaps))
        return 0;

    int delivered = 0;
    // The focus may still be on its way to the target.
    if (connection->dispatchUntil(targetHasFocus, focusWaitMs)) {
        WaylandProxy<zwp_virtual_keyboard_v1> keyboard(
            zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(connection->keyboards(),
                                                                    connection->seat()));
        for (const WaylandKeymap& keymap : qAsConst(keymaps)) {
            const FileDescriptor file = sealedFile(keymap.text());
            if (file.get() < 0)
                break;
            zwp_virtual_keyboard_v1_keymap(keyboard.get(), keymapFormatXkbText, file.get(),
                                           static_cast<uint32_t>(keymap.text().size()));
            // No modifier, lock or group: each key means exactly its one character.
            zwp_virtual_keyboard_v1_modifiers(keyboard.get(), 0, 0, 0, 0);
            connection->dispatchFor(keymapSettleMs);
            // A password must never land in whatever window took the focus meanwhile.
            if (!connection->alive() || !targetHasFocus())
                break;
            for (const WaylandKeymap::Stroke& stroke : keymap.strokes()) {
                zwp_virtual_keyboard_v1_key(keyboard.get(), milliseconds(), stroke.key, keyPressed);
                zwp_virtual_keyboard_v1_key(keyboard.get(), milliseconds(), stroke.key,
                                            keyReleased);
            }
            if (!connection->roundtrip())
                break;
            delivered += keymap.records();
        }
    }
    for (WaylandKeymap& keymap : keymaps)
        keymap.wipe();
    return delivered;
}
