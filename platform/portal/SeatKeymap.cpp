#include "SeatKeymap.h"

#include "files/FileDescriptor.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <sys/mman.h>

namespace {

constexpr uint32_t seatVersion = 5;

struct Deleter
{
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
    void operator()(wl_registry* registry) const { wl_registry_destroy(registry); }
    void operator()(wl_seat* seat) const { wl_seat_destroy(seat); }
    void operator()(wl_keyboard* keyboard) const { wl_keyboard_destroy(keyboard); }
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
template <typename T> using Owned = std::unique_ptr<T, Deleter>;

// One connection and what it learns from the compositor; the proxies go before the connection.
struct Listening
{
    Owned<wl_display> display{wl_display_connect(nullptr)};
    Owned<wl_registry> registry;
    Owned<wl_seat> seat;
    QStringList interfaces;
    Owned<xkb_context> context{xkb_context_new(static_cast<xkb_context_flags>(
        XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES))};
    Owned<xkb_keymap> keymap;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version)
{
    auto* listening = static_cast<Listening*>(data);
    listening->interfaces << QString::fromLatin1(interface);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !listening->seat)
        listening->seat.reset(static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, seatVersion))));
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    auto* listening = static_cast<Listening*>(data);
    const FileDescriptor file(fd);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0 || !listening->context)
        return;
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (mapped == MAP_FAILED)
        return;
    const auto* text = static_cast<const char*>(mapped);
    listening->keymap.reset(
        xkb_keymap_new_from_buffer(listening->context.get(), text, strnlen(text, size),
                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    munmap(mapped, size);
}

// A keyboard without a surface gets only its keymap (and perhaps the repeat rate).
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onRepeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

const wl_registry_listener registryListener = {&onGlobal, &onGlobalRemove};
const wl_keyboard_listener keyboardListener = {&onKeymap, &onEnter,     &onLeave,
                                               &onKey,    &onModifiers, &onRepeatInfo};

// Connects and lists the globals; with `keymap`, also reads the seat's keymap.
bool listen(Listening& listening, bool keymap)
{
    wl_display* display = listening.display.get();
    if (display == nullptr)
        return false;
    listening.registry.reset(wl_display_get_registry(display));
    wl_registry_add_listener(listening.registry.get(), &registryListener, &listening);
    if (wl_display_roundtrip(display) < 0)
        return false;
    if (!keymap)
        return true;
    if (!listening.seat)
        return false;
    const Owned<wl_keyboard> keyboard(wl_seat_get_keyboard(listening.seat.get()));
    wl_keyboard_add_listener(keyboard.get(), &keyboardListener, &listening);
    // The keymap is the compositor's first answer to a new keyboard.
    return wl_display_roundtrip(display) >= 0 && listening.keymap != nullptr;
}

// Every keysym of the layout that a key gives without a modifier other than Shift. Only keys an
// X server has: XWayland passes no key above 255 to an X11 window, so a keysym that only such
// a key gives (EuroSign at 443 on the US layout) would reach Wayland windows alone.
QSet<quint32> typeableIn(xkb_keymap* keymap, xkb_layout_index_t layout)
{
    QSet<quint32> keysyms;
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    const xkb_mod_mask_t shiftMask = shift == XKB_MOD_INVALID ? 0 : 1u << shift;
    const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= last; ++key) {
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, key, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            xkb_mod_mask_t masks[16];
            const size_t count = xkb_keymap_key_get_mods_for_level(keymap, key, layout, level,
                                                                   masks, std::size(masks));
            const bool reachable =
                level == 0 || std::any_of(masks, masks + count, [shiftMask](xkb_mod_mask_t mask) {
                    return mask == shiftMask;
                });
            const xkb_keysym_t* syms = nullptr;
            const int symCount =
                xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms);
            // A key with several keysyms on one level types none of them as a character.
            if (reachable && symCount == 1)
                keysyms.insert(syms[0]);
        }
    }
    return keysyms;
}

} // namespace

bool SeatKeymap::load()
{
    typeable.clear();
    Listening listening;
    if (!listen(listening, true))
        return false;
    xkb_keymap* keymap = listening.keymap.get();
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        const QSet<quint32> inLayout = typeableIn(keymap, layout);
        if (layout == 0)
            typeable = inLayout;
        else
            typeable.intersect(inLayout);
    }
    return true;
}

quint32 SeatKeymap::keysymFor(quint32 keysym) const
{
    // The desktop matches keysyms exactly, and keymaps name most characters by their legacy
    // keysym (EuroSign, not U20AC); a few by the Unicode one.
    const uint32_t character = xkb_keysym_to_utf32(keysym);
    const quint32 forms[] = {character != 0 ? xkb_utf32_to_keysym(character) : keysym, keysym,
                             character >= 0x20 ? 0x1000000 | character : keysym};
    for (const quint32 form : forms) {
        if (form != XKB_KEY_NoSymbol && typeable.contains(form))
            return form;
    }
    return 0;
}

QStringList SeatKeymap::compositorInterfaces()
{
    Listening listening;
    return listen(listening, false) ? listening.interfaces : QStringList();
}
