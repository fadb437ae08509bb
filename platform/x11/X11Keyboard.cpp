#include "X11Keyboard.h"

#include <QHash>
#include <QThread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <bitset>

namespace {

// After the last key on a temporarily mapped keycode the target must still look the key up
// under that mapping; clients read keysyms only when they process the event.
constexpr int spareSettleMs = 250;

bool isLockKeysym(KeySym keysym)
{
    return keysym == XK_Caps_Lock || keysym == XK_Shift_Lock || keysym == XK_Num_Lock ||
           keysym == XK_Scroll_Lock || keysym == XK_ISO_Level3_Lock ||
           keysym == XK_ISO_Level5_Lock || keysym == XK_ISO_Lock;
}

int preference(KeySym keysym)
{
    switch (keysym) {
    case XK_Shift_L:
    case XK_ISO_Level3_Shift:
    case XK_Control_L:
    case XK_Alt_L:
        return 0;
    case XK_Shift_R:
    case XK_Control_R:
    case XK_Alt_R:
    case XK_ISO_Level5_Shift:
        return 1;
    default:
        return 2;
    }
}

int bitCount(unsigned mask)
{
    return static_cast<int>(std::bitset<32>(mask).count());
}

} // namespace

X11Keyboard::X11Keyboard(_XDisplay* connection) : display(connection) {}

bool X11Keyboard::load()
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor))
        return false;
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor))
        return false;
    keymap.reset(XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd));
    if (keymap == nullptr || keymap->map == nullptr)
        return false;
    // A server whose keyboard has no modifier keys (XWayland on a seat without a keyboard)
    // sends no modifier map at all.
    if (keymap->map->modmap == nullptr &&
        XkbAllocClientMap(keymap.get(), XkbModifierMapMask, 0) != Success)
        return false;
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        return false;
    group = state.group;
    return true;
}

bool X11Keyboard::modifiersHeld() const
{
    if (keymap == nullptr)
        return false;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    for (int keycode = keymap->min_key_code; keycode <= keymap->max_key_code; ++keycode) {
        const bool down = (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
        if (down && keymap->map->modmap[keycode] != 0)
            return true;
    }
    return false;
}

bool X11Keyboard::levelModifiers(int keycode, int keyGroup, int level, unsigned& mask) const
{
    if (level == 0) {
        mask = 0;
        return true;
    }
    const XkbKeyTypePtr type = XkbKeyKeyType(keymap, keycode, keyGroup);
    bool found = false;
    for (int i = 0; i < type->map_count; ++i) {
        const XkbKTMapEntryRec& entry = type->map[i];
        // Lock levels are left out: the typing runs with every lock released.
        if (!entry.active || entry.level != level || (entry.mods.mask & LockMask) != 0)
            continue;
        if (!found || bitCount(entry.mods.mask) < bitCount(mask)) {
            mask = entry.mods.mask;
            found = true;
        }
    }
    return found;
}

bool X11Keyboard::modifierKeys(unsigned mask, QVector<quint8>& keys) const
{
    keys.clear();
    for (int bit = 0; bit < 8; ++bit) {
        if ((mask & (1u << bit)) == 0)
            continue;
        int best = 0, bestRank = 3;
        for (int keycode = keymap->min_key_code; keycode <= keymap->max_key_code; ++keycode) {
            if ((keymap->map->modmap[keycode] & (1u << bit)) == 0)
                continue;
            if (XkbKeyNumGroups(keymap, keycode) == 0)
                continue;
            const KeySym keysym = XkbKeySymEntry(keymap, keycode, 0, 0);
            if (keysym == NoSymbol || isLockKeysym(keysym))
                continue;
            if (preference(keysym) < bestRank) {
                best = keycode;
                bestRank = preference(keysym);
            }
        }
        if (best == 0)
            return false;
        keys.append(static_cast<quint8>(best));
    }
    return true;
}

bool X11Keyboard::findStroke(quint32 keysym, Stroke& stroke) const
{
    // The layout may carry a character under its legacy keysym (EuroSign, Greek, ...).
    const quint32 codePoint = xkb_keysym_to_utf32(keysym);
    const quint32 legacy = codePoint != 0 ? xkb_utf32_to_keysym(codePoint) : keysym;
    int bestModifiers = 99;
    for (int keycode = keymap->min_key_code; keycode <= keymap->max_key_code; ++keycode) {
        const int groups = XkbKeyNumGroups(keymap, keycode);
        if (groups == 0)
            continue;
        const int keyGroup = group < groups ? group : group % groups;
        const int width = XkbKeyGroupWidth(keymap, keycode, keyGroup);
        for (int level = 0; level < width; ++level) {
            const KeySym found = XkbKeySymEntry(keymap, keycode, level, keyGroup);
            if (found == NoSymbol || (found != keysym && found != legacy))
                continue;
            unsigned mask = 0;
            QVector<quint8> keys;
            if (!levelModifiers(keycode, keyGroup, level, mask) || !modifierKeys(mask, keys))
                continue;
            if (keys.size() < bestModifiers) {
                bestModifiers = keys.size();
                stroke.keycode = static_cast<quint8>(keycode);
                stroke.modifiers = keys;
            }
        }
    }
    return bestModifiers != 99;
}

QVector<quint8> X11Keyboard::spareKeycodes() const
{
    QVector<quint8> spares;
    int perKeycode = 0;
    const int count = keymap->max_key_code - keymap->min_key_code + 1;
    const X11Buffer<KeySym> syms(XGetKeyboardMapping(
        display, static_cast<KeyCode>(keymap->min_key_code), count, &perKeycode));
    if (syms == nullptr)
        return spares;
    for (int i = 0; i < count; ++i) {
        const int keycode = keymap->min_key_code + i;
        bool empty = keymap->map->modmap[keycode] == 0;
        for (int j = 0; empty && j < perKeycode; ++j)
            empty = syms.get()[i * perKeycode + j] == NoSymbol;
        if (empty)
            spares.append(static_cast<quint8>(keycode));
    }
    return spares;
}

bool X11Keyboard::canType(const QVector<KeyTaps::Tap>& taps) const
{
    if (keymap == nullptr)
        return false;
    Stroke stroke;
    for (const KeyTaps::Tap& tap : taps) {
        if (!findStroke(tap.keysym, stroke))
            return !spareKeycodes().isEmpty();
    }
    return true;
}

void X11Keyboard::mapSpare(quint8 keycode, quint32 keysym)
{
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, keycode, 2, syms, 1);
}

void X11Keyboard::tap(const Stroke& stroke)
{
    for (quint8 modifier : stroke.modifiers)
        XTestFakeKeyEvent(display, modifier, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.keycode, False, CurrentTime);
    for (int i = stroke.modifiers.size() - 1; i >= 0; --i)
        XTestFakeKeyEvent(display, stroke.modifiers.at(i), False, CurrentTime);
}

void X11Keyboard::settle()
{
    XSync(display, False);
    QThread::msleep(spareSettleMs);
    XSync(display, False);
}

int X11Keyboard::type(const QVector<KeyTaps::Tap>& taps)
{
    if (keymap == nullptr || !canType(taps))
        return 0;

    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    if (state.locked_mods != 0)
        XkbLockModifiers(display, XkbUseCoreKbd, state.locked_mods, 0);
    if (state.latched_mods != 0)
        XkbLatchModifiers(display, XkbUseCoreKbd, state.latched_mods, 0);

    const QVector<quint8> spares = spareKeycodes();
    QHash<quint32, quint8> mapped; // keysym -> spare keycode in use
    QVector<quint8> used;
    int delivered = 0;
    for (const KeyTaps::Tap& keyTap : taps) {
        Stroke stroke;
        if (!findStroke(keyTap.keysym, stroke)) {
            auto it = mapped.constFind(keyTap.keysym);
            if (it != mapped.constEnd()) {
                stroke.keycode = it.value();
            } else {
                if (mapped.size() == spares.size()) {
                    // Every spare is taken: let the target read what was typed on them
                    // before they change meaning.
                    settle();
                    mapped.clear();
                }
                stroke.keycode = spares.at(mapped.size());
                mapSpare(stroke.keycode, keyTap.keysym);
                mapped.insert(keyTap.keysym, stroke.keycode);
                if (!used.contains(stroke.keycode))
                    used.append(stroke.keycode);
            }
        }
        tap(stroke);
        delivered += keyTap.records;
    }

    if (state.locked_mods != 0)
        XkbLockModifiers(display, XkbUseCoreKbd, state.locked_mods, state.locked_mods);
    XSync(display, False);
    if (!used.isEmpty()) {
        settle();
        for (quint8 keycode : used) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, keycode, 2, none, 1);
        }
        XSync(display, False);
    }
    return delivered;
}
