#pragma once

#include "KeyTaps.h"
#include "X11Handles.h"

#include <QVector>

struct _XDisplay;

// Types keysyms through XTest on the current keyboard layout: each keysym is looked up on the
// current XKB group with the modifiers of its level (Shift, AltGr), characters the layout
// lacks go through spare keycodes mapped for the moment, and the user's lock and latch state
// is set aside so that Caps Lock cannot change what arrives.
class X11Keyboard
{
public:
    explicit X11Keyboard(_XDisplay* display);
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // Reads the current layout; false without XKB or XTest.
    bool load();
    // Whether a modifier key (Shift, Ctrl, Alt, AltGr ...) is pressed right now.
    bool modifiersHeld() const;
    // True if every tap can be typed on this layout (spare keycodes included).
    bool canType(const QVector<KeyTaps::Tap>& taps) const;
    // Sends the taps in order; returns the number of records delivered.
    int type(const QVector<KeyTaps::Tap>& taps);

private:
    struct Stroke
    {
        quint8 keycode = 0;
        QVector<quint8> modifiers; // keys to hold while `keycode` is tapped
    };

    bool findStroke(quint32 keysym, Stroke& stroke) const;
    bool levelModifiers(int keycode, int group, int level, unsigned& mask) const;
    bool modifierKeys(unsigned mask, QVector<quint8>& keys) const;
    QVector<quint8> spareKeycodes() const;
    void mapSpare(quint8 keycode, quint32 keysym);
    void tap(const Stroke& stroke);
    void settle();

    _XDisplay* display;
    X11Keymap keymap;
    int group = 0;
};
