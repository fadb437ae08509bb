#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <memory>

// The window-system operations Type Selection needs, so its logic runs against any
// implementation: X11 in the program, a recording one in the tests.
class WindowSystem
{
public:
    using Window = quintptr; // 0 is "no window"

    // One synthesised keyboard event. `unit` is a UTF-16 code unit typed as a character;
    // `key` is a named key (TAB, ENTER) when `unit` is 0.
    struct KeyRecord
    {
        enum Key : quint8
        {
            NoNamedKey = 0,
            Tab = 9,
            Return = 13
        };
        quint16 unit = 0;
        Key key = NoNamedKey;
        bool keyUp = false;
        quintptr extraInfo = 0;
    };

    // Why the last typing delivered nothing, where a layer knows more than that the keys did
    // not arrive.
    struct Refusal
    {
        enum Reason : quint8
        {
            None,
            NoWindow,       // no other window took the focus
            DesktopRefused, // the desktop did not allow the keys
            NotOnLayout,    // the keyboard layout lacks `characters`
            CapsLock        // it would change what arrives
        };
        Reason reason = None;
        QString characters;
    };

    virtual ~WindowSystem() = default;

    // The top-level window directly below `window` in the stacking order, or 0.
    virtual Window nextWindow(Window window) = 0;
    // The parent (or owner) of `window`, or 0 at the top.
    virtual Window parentWindow(Window window) = 0;
    virtual bool isWindowVisible(Window window) = 0;
    virtual void showWindow(Window window) = 0;
    // Gives `window` the keyboard focus; sendInput() then types only into this window.
    virtual bool setForegroundWindow(Window window) = 0;
    virtual void sleep(int milliseconds) = 0;
    virtual quintptr messageExtraInfo() = 0;
    // Delivers the records in order as one batch; returns how many were really delivered.
    // The records come as down/up pairs; an implementation delivers all of them or none, and
    // returns 0 too when it cannot vouch for what arrived (the keymap changed meanwhile).
    [[nodiscard]] virtual int sendInput(const QVector<KeyRecord>& records) = 0;
    // Undoes now what typing left in the window system for a target that reads its keys late
    // (on X11 the characters mapped to spare keycodes, which stay until the next typing).
    // A layer does it when destroyed; the lock and the signal path call it too, from the event
    // loop, never from a signal handler.
    virtual void restoreKeyboard() {}
    // Gives the focus back to the program's own window after typing, where the toolkit
    // cannot (no Wayland client may activate itself); false when the layer did nothing.
    virtual bool activateOwnWindow(Window window)
    {
        Q_UNUSED(window)
        return false;
    }
    virtual Refusal refusal() const { return {}; }
};
