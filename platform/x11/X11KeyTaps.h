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

// The keysym that types `codePoint`, or 0 for characters that cannot be typed. The editor's
// line break, U+2029, is typed as that character like any other, never as Return: a Return
// in the middle of a selection could submit a login form with half the text in it.
quint32 keysymForCodePoint(char32_t codePoint);

// Turns down/up record pairs into taps. False (and no taps) when the records do not form
// pairs, hold a lone surrogate or a character without keysym: then nothing may be typed.
bool tapsForRecords(const QVector<WindowSystem::KeyRecord>& records, QVector<X11KeyTap>& taps);
