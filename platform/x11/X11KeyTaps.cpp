#include "X11KeyTaps.h"

#include <QChar>

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

quint32 keysymForCodePoint(char32_t codePoint)
{
    switch (codePoint) {
    case 0x08:
        return keyBackSpace;
    case 0x09:
        return keyTab;
    case 0x0a:
    case 0x0d:
        return keyReturn;
    case 0x1b:
        return keyEscape;
    case 0x7f:
        return keyDelete;
    default:
        break;
    }
    if ((codePoint >= 0x20 && codePoint <= 0x7e) || (codePoint >= 0xa0 && codePoint <= 0xff))
        return codePoint;
    if (codePoint < 0x100 || (codePoint >= 0xd800 && codePoint <= 0xdfff) || codePoint > 0x10ffff)
        return 0; // control characters and lone surrogates
    return unicodeKeysymBase | codePoint;
}

bool tapsForRecords(const QVector<WindowSystem::KeyRecord>& records, QVector<X11KeyTap>& taps)
{
    taps.clear();
    if (records.size() % 2 != 0)
        return false;
    for (int i = 0; i < records.size(); i += 2) {
        const auto& down = records.at(i);
        if (!isPair(down, records.at(i + 1)))
            return false;
        X11KeyTap tap;
        tap.records = 2;
        if (down.unit == 0) {
            if (down.key == WindowSystem::KeyRecord::Tab)
                tap.keysym = keyTab;
            else if (down.key == WindowSystem::KeyRecord::Return)
                tap.keysym = keyReturn;
        } else if (QChar::isHighSurrogate(down.unit) && i + 3 < records.size() &&
                   isPair(records.at(i + 2), records.at(i + 3)) &&
                   QChar::isLowSurrogate(records.at(i + 2).unit)) {
            tap.keysym =
                keysymForCodePoint(QChar::surrogateToUcs4(down.unit, records.at(i + 2).unit));
            tap.records = 4;
            i += 2;
        } else {
            tap.keysym = keysymForCodePoint(down.unit);
        }
        if (tap.keysym == 0) {
            taps.clear();
            return false;
        }
        taps.append(tap);
    }
    return true;
}
