#include "X11Keyboard.h"

#include "X11ErrorTrap.h"

#include <QHash>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <bitset>
#include <memory>
#include <vector>

namespace {

using SpareKey = QPair<quint8, quint32>; // keycode, keysym

// The spare keycodes this process mapped and what it mapped them to, until restoreSpares().
QVector<SpareKey>& mappedSpares()
{
    static QVector<SpareKey> spares;
    return spares;
}

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

bool sameCharacter(KeySym found, quint32 wanted)
{
    if (found == wanted)
        return true;
    const quint32 codePoint = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(found));
    return codePoint != 0 && codePoint == xkb_keysym_to_utf32(wanted);
}

// The keyboards whose keymaps the core keyboard takes over in turn, as each sends a key: the
// XTEST keyboard and the others (under XWayland the compositor's).
struct Keyboards
{
    int xtest = XkbUseCoreKbd; // the core keyboard itself where XInput 2 is missing
    QVector<int> attached;
};

bool isXtestDevice(Display* display, int device, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    X11ErrorTrap trap(display);
    const Status status = XIGetProperty(display, device, property, 0, 1, False, AnyPropertyType,
                                        &type, &format, &count, &remaining, &data);
    const X11Buffer<unsigned char> owned(data);
    return status == Success && !trap.failed() && type != None;
}

Keyboards keyboards(Display* display)
{
    Keyboards found;
    int opcode = 0, event = 0, error = 0, major = 2, minor = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success)
        return found;
    int pointer = 0;
    if (!XIGetClientPointer(display, None, &pointer))
        return found;
    int count = 0;
    const std::unique_ptr<XIDeviceInfo, void (*)(XIDeviceInfo*)> devices(
        XIQueryDevice(display, XIAllDevices, &count), XIFreeDeviceInfo);
    if (devices == nullptr)
        return found;
    int core = 0;
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& device = devices.get()[i];
        if (device.use == XIMasterKeyboard && device.attachment == pointer)
            core = device.deviceid;
    }
    const Atom xtest = XInternAtom(display, "XTEST Device", True);
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& device = devices.get()[i];
        if (device.use != XISlaveKeyboard || device.attachment != core)
            continue;
        found.attached.append(device.deviceid);
        if (xtest != None && isXtestDevice(display, device.deviceid, xtest))
            found.xtest = device.deviceid;
    }
    return found;
}

// The keysyms and modifier maps of the core keyboard and of every keyboard behind it; empty
// when one cannot be read.
std::vector<X11Keymap> keymaps(Display* display, const Keyboards& devices)
{
    std::vector<X11Keymap> maps;
    maps.emplace_back(XkbGetMap(display, XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd));
    for (int device : devices.attached)
        maps.emplace_back(XkbGetMap(display, XkbKeySymsMask | XkbModifierMapMask, device));
    for (const X11Keymap& map : maps) {
        if (map == nullptr || map->map == nullptr)
            return {};
    }
    return maps;
}

// Whether `keycode` is no modifier and has no keysym but `allowed` on this keymap.
bool holdsOnly(const XkbDescRec* map, int keycode, KeySym allowed)
{
    if (keycode < map->min_key_code || keycode > map->max_key_code)
        return true;
    if (map->map->modmap != nullptr && map->map->modmap[keycode] != 0)
        return false;
    const int count = XkbKeyNumSyms(map, keycode);
    const KeySym* syms = XkbKeySymsPtr(map, keycode);
    for (int i = 0; i < count; ++i) {
        if (syms[i] != NoSymbol && syms[i] != allowed)
            return false;
    }
    return true;
}

bool mapsKeycode(const QVector<SpareKey>& spares, int keycode)
{
    return std::any_of(spares.cbegin(), spares.cend(),
                       [keycode](const SpareKey& spare) { return spare.first == keycode; });
}

bool holdsOnly(const std::vector<X11Keymap>& maps, int keycode, KeySym allowed)
{
    if (maps.empty())
        return false;
    for (const X11Keymap& map : maps) {
        if (!holdsOnly(map.get(), keycode, allowed))
            return false;
    }
    return true;
}

// Which spare keycodes each Varnisk mapped, kept on the root window so that one ended by
// SIGKILL or a crash leaves them to the next: (window, keycode, keysym) triples, the window one
// of that Varnisk's own, which the server destroys as the program's connection ends.
constexpr char sparesProperty[] = "_VARNISK_SPARE_KEYS";

::Window ownWindow(Display* display)
{
    // One display connection per process.
    static const ::Window window =
        XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, CopyFromParent,
                      InputOnly, CopyFromParent, 0, nullptr);
    return window;
}

bool windowExists(Display* display, ::Window window)
{
    XWindowAttributes attributes{};
    X11ErrorTrap trap(display);
    return XGetWindowAttributes(display, window, &attributes) != 0 && !trap.failed();
}

// Replaces the records of the Varnisk whose window `owner` is (gone: `owner` 0 replaces those
// of every Varnisk that is gone, after taking back their keys) with `mine`. With the server
// grabbed: two Varnisk must not write over each other's records.
void updateRecords(Display* display, ::Window owner, const QVector<SpareKey>& mine)
{
    const Atom property = XInternAtom(display, sparesProperty, False);
    const ::Window root = DefaultRootWindow(display);
    XGrabServer(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, root, property, 0, 3 * 256, False, XA_CARDINAL, &type, &format,
                       &count, &remaining, &data);
    const X11Buffer<unsigned char> owned(data);
    const auto* items = format == 32 ? reinterpret_cast<const unsigned long*>(data) : nullptr;
    std::vector<unsigned long> records;
    const std::vector<X11Keymap> maps =
        owner == 0 ? keymaps(display, keyboards(display)) : std::vector<X11Keymap>();
    for (unsigned long i = 0; items != nullptr && i + 2 < count; i += 3) {
        const ::Window writer = items[i];
        if (writer == owner)
            continue;
        if (owner == 0 && !windowExists(display, writer)) {
            // A key another client (or a new keymap) gave a meaning since is left as it is.
            if (holdsOnly(maps, static_cast<int>(items[i + 1]), items[i + 2])) {
                KeySym none[2] = {NoSymbol, NoSymbol};
                XChangeKeyboardMapping(display, static_cast<int>(items[i + 1]), 2, none, 1);
            }
            continue;
        }
        records.insert(records.end(), {items[i], items[i + 1], items[i + 2]});
    }
    for (const SpareKey& spare : mine)
        records.insert(records.end(), {owner, spare.first, spare.second});
    if (records.empty())
        XDeleteProperty(display, root, property);
    else
        XChangeProperty(display, root, property, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(records.data()),
                        static_cast<int>(records.size()));
    XUngrabServer(display);
    XSync(display, False);
}

} // namespace

X11Keyboard::X11Keyboard(_XDisplay* connection) : display(connection) {}

X11Keyboard::~X11Keyboard()
{
    wipePlan();
}

bool X11Keyboard::load()
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor))
        return false;
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkbEvent, &error, &major, &minor))
        return false;
    // A keyboard unplugged meanwhile is an error of the server, not the end of the program.
    X11ErrorTrap trap(display);
    const Keyboards devices = keyboards(display);
    xtestDevice = devices.xtest;
    keymap.reset(XkbGetMap(display, XkbAllClientInfoMask, static_cast<unsigned>(xtestDevice)));
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

    // A spare is free on every keyboard: the mapping reaches all of them. The last typing's
    // come last, so that a target still reading its keys keeps their characters as long as
    // the keycodes are not needed.
    wipePlan();
    spares.clear();
    const std::vector<X11Keymap> maps = keymaps(display, devices);
    for (const SpareKey& spare : qAsConst(mappedSpares())) {
        if (holdsOnly(maps, spare.first, spare.second))
            earlier.append(spare);
    }
    for (int keycode = keymap->min_key_code; keycode <= keymap->max_key_code; ++keycode) {
        if (holdsOnly(maps, keycode, NoSymbol) && !mapsKeycode(earlier, keycode))
            spares.append(static_cast<quint8>(keycode));
    }
    for (const SpareKey& spare : qAsConst(earlier))
        spares.append(spare.first);
    return true;
}

bool X11Keyboard::modifiersHeld() const
{
    // The core keyboard's state, whichever keyboard holds the modifier.
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) != Success || state.base_mods != 0 ||
           state.latched_mods != 0;
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

bool X11Keyboard::plan(const QVector<KeyTaps::Tap>& taps)
{
    strokes.clear();
    sparesToMap.clear();
    if (keymap == nullptr)
        return false;
    // An earlier spare that holds a character of this typing keeps it (the layout lookup finds
    // it there); the others may take new characters.
    QVector<quint8> free;
    for (quint8 spare : qAsConst(spares)) {
        const auto keeps = [&](const SpareKey& key) {
            return key.first == spare &&
                   std::any_of(taps.cbegin(), taps.cend(),
                               [&](const auto& tap) { return tap.keysym == key.second; });
        };
        if (std::none_of(earlier.cbegin(), earlier.cend(), keeps))
            free.append(spare);
    }
    QHash<quint32, quint8> onSpare; // keysym -> its spare keycode
    for (const KeyTaps::Tap& keyTap : taps) {
        Stroke stroke;
        if (!findStroke(keyTap.keysym, stroke)) {
            auto it = onSpare.constFind(keyTap.keysym);
            if (it == onSpare.constEnd()) {
                if (onSpare.size() == free.size()) {
                    wipePlan();
                    return false;
                }
                const quint8 spare = free.at(onSpare.size());
                it = onSpare.insert(keyTap.keysym, spare);
                sparesToMap.append({spare, keyTap.keysym});
            }
            stroke.keycode = it.value();
        }
        stroke.keysym = keyTap.keysym;
        stroke.records = keyTap.records;
        strokes.append(stroke);
    }
    return true;
}

bool X11Keyboard::typesAsPlanned(_XkbDesc* map, int keyGroup) const
{
    if (map == nullptr || map->map == nullptr)
        return false;
    for (const Stroke& stroke : strokes) {
        if (stroke.keycode < map->min_key_code || stroke.keycode > map->max_key_code)
            return false;
        unsigned mods = 0;
        for (quint8 modifier : stroke.modifiers)
            mods |= map->map->modmap != nullptr ? map->map->modmap[modifier] : 0u;
        KeySym found = NoSymbol;
        unsigned consumed = 0;
        if (!XkbTranslateKeyCode(map, stroke.keycode, XkbBuildCoreState(mods, keyGroup), &consumed,
                                 &found) ||
            !sameCharacter(found, stroke.keysym))
            return false;
    }
    return true;
}

bool X11Keyboard::keymapInForce()
{
    // Clients read the keys on the core keyboard's keymap, and the core keyboard takes the
    // XTEST keyboard's over again after a key from another keyboard: both must type the plan.
    const X11Keymap core(XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd));
    const X11Keymap xtest(
        XkbGetMap(display, XkbAllClientInfoMask, static_cast<unsigned>(xtestDevice)));
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success &&
           typesAsPlanned(core.get(), state.group) && typesAsPlanned(xtest.get(), state.group);
}

void X11Keyboard::watchKeymap(bool on)
{
    const unsigned mapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    QVector<unsigned> devices{XkbUseCoreKbd};
    if (xtestDevice != XkbUseCoreKbd)
        devices.append(static_cast<unsigned>(xtestDevice));
    for (unsigned device : devices)
        XkbSelectEvents(display, device, mapChanges, on ? mapChanges : 0);
    // A layout switch changes what every key types, as a new keymap does.
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                          on ? XkbGroupStateMask : 0);
    if (!on)
        keymapChanged(); // drops what came before the selection ended
}

bool X11Keyboard::keymapChanged()
{
    XSync(display, False);
    bool changed = false;
    XEvent event;
    while (XCheckTypedEvent(display, xkbEvent, &event))
        changed = true;
    return changed;
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

int X11Keyboard::type()
{
    if (keymap == nullptr || strokes.isEmpty())
        return 0;

    X11ErrorTrap trap(display);
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    if (state.locked_mods != 0)
        XkbLockModifiers(display, XkbUseCoreKbd, state.locked_mods, 0);
    if (state.latched_mods != 0)
        XkbLatchModifiers(display, XkbUseCoreKbd, state.latched_mods, 0);

    // The core keyboard takes over the keymap of the keyboard whose key comes next: a release
    // of a key that is not down reaches no client, but makes that switch now, before the
    // keymap is checked, instead of at the first key of the text.
    quint8 idle = keymap->min_key_code;
    for (quint8 spare : qAsConst(spares)) {
        if (!mapsKeycode(sparesToMap, spare) && !mapsKeycode(earlier, spare)) {
            idle = spare;
            break;
        }
    }
    XTestFakeKeyEvent(display, idle, False, CurrentTime);
    // The last typing's spares that this one does not use are emptied or take new characters.
    QVector<SpareKey> mapped;
    for (const SpareKey& spare : qAsConst(earlier)) {
        const auto typed = [&spare](const Stroke& stroke) { return stroke.keysym == spare.second; };
        if (std::any_of(strokes.cbegin(), strokes.cend(), typed)) {
            mapped.append(spare);
        } else if (!mapsKeycode(sparesToMap, spare.first)) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, spare.first, 2, none, 1);
        }
    }
    for (const SpareKey& spare : qAsConst(sparesToMap)) {
        KeySym syms[2] = {spare.second, spare.second};
        XChangeKeyboardMapping(display, spare.first, 2, syms, 1);
        mapped.append(spare);
    }
    mappedSpares().fill(SpareKey());
    mappedSpares() = mapped;
    mapped.fill(SpareKey());
    updateRecords(display, ownWindow(display), mappedSpares());

    // From here on any change of the keymap or the layout is another client's or keyboard's.
    watchKeymap(true);
    int delivered = 0;
    if (keymapInForce() && !keymapChanged()) {
        // A final TAB or ENTER would submit what may have arrived wrong: it waits for the check.
        const Stroke& last = strokes.constLast();
        const int held = last.keysym == XK_Tab || last.keysym == XK_Return ? 1 : 0;
        for (int i = 0; i < strokes.size() - held; ++i) {
            tap(strokes.at(i));
            delivered += strokes.at(i).records;
        }
        if (keymapChanged()) {
            delivered = 0;
        } else if (held != 0) {
            tap(last);
            delivered = keymapChanged() ? 0 : delivered + last.records;
        }
    }
    watchKeymap(false);

    if (state.locked_mods != 0)
        XkbLockModifiers(display, XkbUseCoreKbd, state.locked_mods, state.locked_mods);
    wipePlan();
    return trap.failed() ? 0 : delivered;
}

void X11Keyboard::restoreSpares(_XDisplay* display)
{
    QVector<SpareKey>& mapped = mappedSpares();
    if (mapped.isEmpty())
        return;
    X11ErrorTrap trap(display);
    const std::vector<X11Keymap> maps = keymaps(display, keyboards(display));
    for (SpareKey& spare : mapped) {
        // A key another client (or a new keymap) gave a meaning since is left as it is.
        if (holdsOnly(maps, spare.first, spare.second)) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, spare.first, 2, none, 1);
        }
        spare = SpareKey();
    }
    mapped.clear();
    updateRecords(display, ownWindow(display), {});
}

void X11Keyboard::reclaimSpares(_XDisplay* display)
{
    X11ErrorTrap trap(display);
    updateRecords(display, 0, {});
}

void X11Keyboard::wipePlan()
{
    // The keysyms are the characters of the secret.
    for (Stroke& stroke : strokes)
        stroke = Stroke();
    strokes.clear();
    sparesToMap.fill(SpareKey());
    sparesToMap.clear();
    earlier.fill(SpareKey());
    earlier.clear();
}
