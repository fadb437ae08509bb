#pragma once

struct _XDisplay;

// Catches the X protocol errors of the requests made during its lifetime, so that a window
// that vanished or refuses the focus is a failed call instead of Xlib's default handler
// ending the process.
class X11ErrorTrap
{
public:
    explicit X11ErrorTrap(_XDisplay* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to process everything so far; true if any of it failed.
    bool failed();

private:
    _XDisplay* display;
    int (*previousHandler)(_XDisplay*, void*);
    int outerError;
};
