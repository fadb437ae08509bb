#pragma once

#include <QSet>
#include <QStringList>
#include <QtGlobal>

// The keymap that the compositor gives its clients' keyboards, read on a Wayland connection of
// the program's own: the window with the focus reads the desktop's synthesised keys with it. A
// key is typed as a keysym that the desktop looks up in this keymap; one that is not there, or
// only behind a modifier the desktop may not add, never arrives as its character.
class SeatKeymap
{
public:
    // Reads the keymap from the compositor of $WAYLAND_DISPLAY; false when there is none, or no
    // seat, or no keymap.
    [[nodiscard]] bool load();

    // The keysym that types the character (or named key) of `keysym` with no modifier but Shift
    // in every layout of the keymap, since the one in force is not known; 0 when a layout lacks
    // it. `keysym` may be a Unicode keysym (0x1000000 + code point) or a named one.
    [[nodiscard]] quint32 keysymFor(quint32 keysym) const;

    // The interfaces the compositor of $WAYLAND_DISPLAY offers; empty without a compositor.
    static QStringList compositorInterfaces();

private:
    QSet<quint32> typeable;
};
