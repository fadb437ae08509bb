#pragma once

#include "platform/WindowSystem.h"

#include <QByteArray>
#include <QVector>

// An XKB keymap written for exactly the characters of one batch of key records: every distinct
// character (and TAB or ENTER) sits alone on a key of its own, on one level, so the receiver
// turns each key into that character whatever the user's layout, dead keys or locks are.
// A batch with more distinct characters than keycodes is split into several keymaps.
class WaylandKeymap
{
public:
    // evdev codes 1 to 247: XKB keycodes 9 to 255, the most that X servers (XWayland) take.
    static constexpr int maxKeys = 247;

    // One key tap: its evdev code in this keymap, and how many records it stands for (four
    // for a surrogate pair).
    struct Stroke
    {
        quint32 key = 0;
        int records = 0;
    };

    // The keymaps that type `records` one after the other. False (and none) when the records
    // do not form down/up pairs or hold a character that cannot be typed (a control
    // character, a lone surrogate): then nothing may be typed at all.
    [[nodiscard]] static bool fromRecords(const QVector<WindowSystem::KeyRecord>& records,
                                          QVector<WaylandKeymap>& keymaps);

    // The XKB text keymap (wl_keyboard.keymap_format 1), ending in a NUL as receivers expect.
    const QByteArray& text() const { return keymapText; }
    const QVector<Stroke>& strokes() const { return keyStrokes; }
    // The number of records the strokes stand for.
    int records() const;
    // Overwrites what shows which characters were typed.
    void wipe();

private:
    void write(const QVector<quint32>& keysyms);

    QByteArray keymapText;
    QVector<Stroke> keyStrokes;
};
