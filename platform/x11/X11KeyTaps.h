#pragma once

#include "WindowSystem.h"

#include <QVector>

// What the X11 layer types for a batch of key records: one keysym per character, with the
// number of records it stands for (a surrogate pair is one character for four records).
struct X11KeyTap
{
    quint32 keysym = 0;
    int records = 0;
};

// The keysym that types `codePoint`, or 0 for characters that cannot be typed. Line and
// paragraph separators become Return: receiving applications take that as a line break,
// while a literal U+2029 is useless to nearly all of them.
quint32 keysymForCodePoint(char32_t codePoint);

// Turns down/up record pairs into taps. False (and no taps) when the records do not form
// pairs, hold a lone surrogate or a character without keysym: then nothing may be typed.
bool tapsForRecords(const QVector<WindowSystem::KeyRecord>& records, QVector<X11KeyTap>& taps);
