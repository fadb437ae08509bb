#include "KeyTaps.h"

#include <QChar>

#include <algorithm>

namespace {

// Keysym values from X11/keysymdef.h, kept here so this file needs no X headers.
constexpr quint32 keyBackSpace = 0xff08;
constexpr quint32 keyTab = 0xff09;
constexpr quint32 keyReturn = 0xff0d;
constexpr quint32 keyEscape = 0xff1b;
constexpr quint32 keyDelete = 0xffff;
constexpr quint32 unicodeKeysymBase = 0x01000000;

bool isPair(const WindowSystem::KeyRecord& down, const WindowSystem::KeyRecord& up)
{
    return !down.keyUp && up.keyUp && down.unit == up.unit && down.key == up.key;
}

} // namespace

quint32 KeyTaps::keysymForCodePoint(char32_t codePoint, bool editingKeys)
{
    switch (codePoint) {
    case 0x08:
        return editingKeys ? keyBackSpace : 0;
    case 0x09:
        return keyTab;
    case 0x0a:
    case 0x0d:
        return keyReturn;
    case 0x1b:
        return editingKeys ? keyEscape : 0;
    case 0x7f:
        return editingKeys ? keyDelete : 0;
    default:
        break;
    }
    if ((codePoint >= 0x20 && codePoint <= 0x7e) || (codePoint >= 0xa0 && codePoint <= 0xff))
        return codePoint;
    if (codePoint < 0x100 || (codePoint >= 0xd800 && codePoint <= 0xdfff) || codePoint > 0x10ffff)
        return 0; // control characters and lone surrogates
    return unicodeKeysymBase | codePoint;
}

bool KeyTaps::fromRecords(const QVector<WindowSystem::KeyRecord>& records, bool editingKeys,
                          QVector<Tap>& taps)
{
    taps.clear();
    const auto refuse = [&taps]() {
        std::fill(taps.begin(), taps.end(), Tap());
        taps.clear();
        return false;
    };
    if (records.size() % 2 != 0)
        return false;
    for (int i = 0; i < records.size(); i += 2) {
        const auto& down = records.at(i);
        if (!isPair(down, records.at(i + 1)))
            return refuse();
        Tap tap;
        tap.records = 2;
        if (down.unit == 0) {
            if (down.key == WindowSystem::KeyRecord::Tab)
                tap.keysym = keyTab;
            else if (down.key == WindowSystem::KeyRecord::Return)
                tap.keysym = keyReturn;
        } else if (QChar::isHighSurrogate(down.unit) && i + 3 < records.size() &&
                   isPair(records.at(i + 2), records.at(i + 3)) &&
                   QChar::isLowSurrogate(records.at(i + 2).unit)) {
            tap.keysym = keysymForCodePoint(
                QChar::surrogateToUcs4(down.unit, records.at(i + 2).unit), editingKeys);
            tap.records = 4;
            i += 2;
        } else {
            tap.keysym = keysymForCodePoint(down.unit, editingKeys);
        }
        if (tap.keysym == 0)
            return refuse();
        taps.append(tap);
    }
    return true;
}
