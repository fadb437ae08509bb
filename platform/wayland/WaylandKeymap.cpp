#include "WaylandKeymap.h"

#include "platform/KeyTaps.h"
#include "securememory/SecureWipe.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr quint32 keysymTab = 0xff09;
constexpr quint32 keysymReturn = 0xff0d;
constexpr quint32 unicodeKeysymBase = 0x01000000;
constexpr quint32 firstXkbKeycode = 9; // evdev code 1; XKB keycodes are evdev codes + 8

// Writes the keysym's name as both xkbcommon and the X server's keymap compiler read it.
void appendKeysymName(QByteArray& text, quint32 keysym)
{
    if (keysym == keysymTab) {
        text += "Tab";
    } else if (keysym == keysymReturn) {
        text += "Return";
    } else {
        char name[16] = {};
        std::snprintf(name, sizeof name, "U%04X", keysym & ~unicodeKeysymBase);
        text += name;
        OPENSSL_cleanse(name, sizeof name);
    }
}

} // namespace

bool WaylandKeymap::fromRecords(const QVector<WindowSystem::KeyRecord>& records,
                                QVector<WaylandKeymap>& keymaps)
{
    keymaps.clear();
    QVector<KeyTaps::Tap> taps;
    if (!KeyTaps::fromRecords(records, false, taps))
        return false;
    int first = 0;
    while (first < taps.size()) {
        // The longest run of taps that needs no more keys than there are keycodes.
        QVector<quint32> keysyms;
        int end = first;
        for (; end < taps.size(); ++end) {
            const quint32 keysym = taps.at(end).keysym;
            if (!keysyms.contains(keysym)) {
                if (keysyms.size() == maxKeys)
                    break;
                keysyms.append(keysym);
            }
        }
        // Keys in keysym order: the keymap tells which characters occur, never in which order.
        std::sort(keysyms.begin(), keysyms.end());
        WaylandKeymap keymap;
        keymap.write(keysyms);
        for (int i = first; i < end; ++i) {
            const auto index =
                std::lower_bound(keysyms.cbegin(), keysyms.cend(), taps.at(i).keysym) -
                keysyms.cbegin();
            keymap.keyStrokes.append({static_cast<quint32>(index) + 1, taps.at(i).records});
        }
        std::fill(keysyms.begin(), keysyms.end(), 0);
        keymaps.append(keymap);
        first = end;
    }
    std::fill(taps.begin(), taps.end(), KeyTaps::Tap());
    return true;
}

void WaylandKeymap::write(const QVector<quint32>& keysyms)
{
    // Written into one buffer reserved up front, so no reallocation leaves a copy behind.
    QByteArray text;
    text.reserve(2048 + 64 * keysyms.size());
    text += "xkb_keymap {\n"
            "xkb_keycodes \"varnisk\" {\n"
            "    minimum = 8;\n"
            "    maximum = 255;\n";
    for (int i = 0; i < keysyms.size(); ++i) {
        const QByteArray keycode = QByteArray::number(firstXkbKeycode + i);
        text += "    <I" + keycode + "> = " + keycode + ";\n";
    }
    // XWayland compiles the keymap with the X server's compiler, which takes it only with the
    // four standard key types, virtual modifiers, a compatibility map and an indicator (else
    // XWayland puts its default layout in its place and reads the keys on that: Escape,
    // digits, BackSpace...); and X clients fail to read a keymap without them. None of them
    // changes a key: every key is of the first type and no key or modifier drives the rest.
    text += "};\n"
            "xkb_types \"varnisk\" {\n"
            "    virtual_modifiers Varnisk;\n"
            "    type \"ONE_LEVEL\" {\n"
            "        modifiers = none;\n"
            "        level_name[Level1] = \"Any\";\n"
            "    };\n"
            "    type \"TWO_LEVEL\" {\n"
            "        modifiers = Shift;\n"
            "        map[Shift] = Level2;\n"
            "        level_name[Level1] = \"Base\";\n"
            "        level_name[Level2] = \"Shift\";\n"
            "    };\n"
            "    type \"ALPHABETIC\" {\n"
            "        modifiers = Shift;\n"
            "        map[Shift] = Level2;\n"
            "        level_name[Level1] = \"Base\";\n"
            "        level_name[Level2] = \"Caps\";\n"
            "    };\n"
            "    type \"KEYPAD\" {\n"
            "        modifiers = Shift;\n"
            "        map[Shift] = Level2;\n"
            "        level_name[Level1] = \"Base\";\n"
            "        level_name[Level2] = \"Number\";\n"
            "    };\n"
            "};\n"
            "xkb_compatibility \"varnisk\" {\n"
            "    interpret VoidSymbol {\n"
            "        repeat = False;\n"
            "    };\n"
            "    indicator \"Varnisk\" {\n"
            "        modifiers = none;\n"
            "    };\n"
            "};\n"
            "xkb_symbols \"varnisk\" {\n";
    for (int i = 0; i < keysyms.size(); ++i) {
        text += "    key <I" + QByteArray::number(firstXkbKeycode + i) + "> { [ ";
        appendKeysymName(text, keysyms.at(i));
        text += " ] };\n";
    }
    text += "};\n"
            "};\n";
    text.append('\0');
    keymapText = text;
}

int WaylandKeymap::records() const
{
    int count = 0;
    for (const Stroke& stroke : keyStrokes)
        count += stroke.records;
    return count;
}

void WaylandKeymap::wipe()
{
    secureWipe(keymapText);
    std::fill(keyStrokes.begin(), keyStrokes.end(), Stroke());
    keyStrokes.clear();
}
