#pragma once

#include "WindowSystem.h"

#include <QVector>

// Turns Type Selection's key records into what a backend types: one key tap per character or
// named key, each with the number of records it stands for (a surrogate pair is one character
// for four records). Both backends read the records this one way.
class KeyTaps
{
public:
    struct Tap
    {
        quint32 keysym = 0;
        int records = 0;
    };

    // The keysym that types `codePoint`, or 0 for what cannot be typed. The editor's line
    // break, U+2029, is typed as that character like any other, never as Return: a Return in
    // the middle of a selection could submit a login form with half the text in it. TAB, LF and
    // CR become Tab and Return; with `editingKeys` BackSpace, Escape and Delete are typed too.
    static quint32 keysymForCodePoint(char32_t codePoint, bool editingKeys);

    // False (and no taps, their keysyms wiped) when the records do not form down/up pairs, or
    // hold a lone surrogate or a character without keysym: then nothing may be typed at all.
    [[nodiscard]] static bool fromRecords(const QVector<WindowSystem::KeyRecord>& records,
                                          bool editingKeys, QVector<Tap>& taps);
};
