#pragma once

#include "X11Handles.h"
#include "platform/KeyTaps.h"

#include <QPair>
#include <QVector>

struct _XDisplay;

// Types keysyms through XTest exactly as the X server will read them. XTest keys are read on
// the keymap of the XTEST keyboard, which the core keyboard takes over when they arrive; until
// then the core keyboard may hold another keymap (under XWayland the one the compositor sent
// last, a virtual keyboard's for instance), so the layout is read from the XTEST keyboard and
// the core keyboard made to take it over before the first key. Each keysym is looked up on the
// current XKB group with the modifiers of its level (Shift, AltGr); characters the layout lacks
// get spare keycodes of their own, mapped before the first key and left mapped until the next
// typing needs them or restoreSpares(), so a target that reads its keys late still finds them
// (the next typing empties those it does not use, and reuses them last); the user's lock and
// latch state is set aside so that Caps Lock cannot change what arrives. A keymap change while
// keys are on their way makes the typing fail.
class X11Keyboard
{
public:
    explicit X11Keyboard(_XDisplay* display);
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;
    ~X11Keyboard();

    // Reads the keyboards; false without XKB or XTest.
    bool load();
    // Whether a modifier key (Shift, Ctrl, Alt, AltGr ...) is pressed right now.
    bool modifiersHeld() const;
    // Chooses the keys for the taps: false when one cannot be typed, or when more distinct
    // characters are off the layout than spare keycodes are free (a spare never changes its
    // character while keys typed on it may still be unread).
    [[nodiscard]] bool plan(const QVector<KeyTaps::Tap>& taps);
    // Types the planned taps; returns the number of records delivered, 0 when nothing was
    // typed or when the keymap changed while the keys were on their way (then what arrived
    // cannot be trusted; a trailing TAB or ENTER is then not pressed).
    int type();

    // Maps the spare keycodes that this process's typing used back to no symbol, leaving
    // those that another client changed since. Not for signal handlers (it talks to the X
    // server).
    static void restoreSpares(_XDisplay* display);
    // Maps back to no symbol the spare keycodes that an earlier Varnisk on this display left
    // mapped as it died (SIGKILL, a crash), unless another client changed them since.
    static void reclaimSpares(_XDisplay* display);

private:
    struct Stroke
    {
        quint8 keycode = 0;
        QVector<quint8> modifiers; // keys to hold while `keycode` is tapped
        quint32 keysym = 0;
        int records = 0;
    };

    bool findStroke(quint32 keysym, Stroke& stroke) const;
    bool levelModifiers(int keycode, int group, int level, unsigned& mask) const;
    bool modifierKeys(unsigned mask, QVector<quint8>& keys) const;
    bool typesAsPlanned(_XkbDesc* map, int keyGroup) const;
    bool keymapInForce();
    void watchKeymap(bool on);
    bool keymapChanged();
    void tap(const Stroke& stroke);
    void wipePlan();

    _XDisplay* display;
    int xkbEvent = 0;
    int xtestDevice = 0;
    X11Keymap keymap; // the XTEST keyboard's
    int group = 0;
    QVector<quint8> spares;                  // free on every keyboard, the last typing's last
    QVector<QPair<quint8, quint32>> earlier; // the last typing's spares (keycode, keysym)
    QVector<Stroke> strokes;
    QVector<QPair<quint8, quint32>> sparesToMap;
};
