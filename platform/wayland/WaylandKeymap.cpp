#include "WaylandKeymap.h"

#include "SecureWipe.h"

#include <QChar>
#include <openssl/crypto.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr quint32 keysymTab = 0xff09;
constexpr quint32 keysymReturn = 0xff0d;
constexpr quint32 unicodeKeysymBase = 0x01000000;
constexpr quint32 firstXkbKeycode = 9; // evdev code 1; XKB keycodes are evdev codes + 8

bool isPair(const WindowSystem::KeyRecord& down, const WindowSystem::KeyRecord& up)
{
    return !down.keyUp && up.keyUp && down.unit == up.unit && down.key == up.key;
}

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

struct Tap
{
    quint32 keysym = 0;
    int records = 0;
};

bool tapsForRecords(const QVector<WindowSystem::KeyRecord>& records, QVector<Tap>& taps)
{
    if (records.size() % 2 != 0)
        return false;
    for (int i = 0; i < records.size(); i += 2) {
        const auto& down = records.at(i);
        if (!isPair(down, records.at(i + 1)))
            return false;
        Tap tap;
        tap.records = 2;
        if (down.unit == 0) {
            if (down.key == WindowSystem::KeyRecord::Tab)
                tap.keysym = keysymTab;
            else if (down.key == WindowSystem::KeyRecord::Return)
                tap.keysym = keysymReturn;
        } else if (QChar::isHighSurrogate(down.unit) && i + 3 < records.size() &&
                   isPair(records.at(i + 2), records.at(i + 3)) &&
                   QChar::isLowSurrogate(records.at(i + 2).unit)) {
            tap.keysym = WaylandKeymap::keysymForCodePoint(
                QChar::surrogateToUcs4(down.unit, records.at(i + 2).unit));
            tap.records = 4;
            i += 2;
        } else {
            tap.keysym = WaylandKeymap::keysymForCodePoint(down.unit);
        }
        if (tap.keysym == 0)
            return false;
        taps.append(tap);
    }
    return true;
}

} // namespace

quint32 WaylandKeymap::keysymForCodePoint(char32_t codePoint)
{
    // Line and paragraph separators stay themselves; only the control characters that a
    // keyboard has keys for become those keys.
    switch (codePoint) {
    case 0x09:
        return keysymTab;
    case 0x0a:
    case 0x0d:
        return keysymReturn;
    default:
        break;
    }
    if ((codePoint >= 0x20 && codePoint <= 0x7e) || (codePoint >= 0xa0 && codePoint <= 0xff))
        return codePoint;
    if (codePoint < 0x100 || (codePoint >= 0xd800 && codePoint <= 0xdfff) || codePoint > 0x10ffff)
        return 0;
    return unicodeKeysymBase | codePoint;
}

bool WaylandKeymap::fromRecords(const QVector<WindowSystem::KeyRecord>& records,
                                QVector<WaylandKeymap>& keymaps)
{
    keymaps.clear();
    QVector<Tap> taps;
    if (!tapsForRecords(records, taps)) {
        std::fill(taps.begin(), taps.end(), Tap());
        return false;
    }
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
    std::fill(taps.begin(), taps.end(), Tap());
    return true;
}

void WaylandKeymap::write(const QVector<quint32>& keysyms)
{
    // Written into one buffer reserved up front, so no reallocation leaves a copy behind.
    QByteArray text;
    text.reserve(1024 + 64 * keysyms.size());
    text += "xkb_keymap {\n"
            "xkb_keycodes \"varnisk\" {\n"
            "    minimum = 8;\n"
            "    maximum = 255;\n";
    for (int i = 0; i < keysyms.size(); ++i) {
        const QByteArray keycode = QByteArray::number(firstXkbKeycode + i);
        text += "    <I" + keycode + "> = " + keycode + ";\n";
    }
    text += "};\n"
            "xkb_types \"varnisk\" {\n"
            "    type \"ONE_LEVEL\" {\n"
            "        modifiers = none;\n"
            "        level_name[Level1] = \"Any\";\n"
            "    };\n"
            "};\n"
            "xkb_compatibility \"varnisk\" {\n"
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
