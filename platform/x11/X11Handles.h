#pragma once

#include <memory>

struct _XDisplay;
struct _XkbDesc;

// Owners for what Xlib hands out: a display connection (closed), a buffer that Xlib allocated
// (given back with XFree) and an XKB keyboard description (XkbFreeKeyboard).
struct X11Deleter
{
    void operator()(_XDisplay* display) const;
    void operator()(_XkbDesc* keymap) const;
    void operator()(void* buffer) const;
};

using X11Display = std::unique_ptr<_XDisplay, X11Deleter>;
using X11Keymap = std::unique_ptr<_XkbDesc, X11Deleter>;
template <class T> using X11Buffer = std::unique_ptr<T, X11Deleter>;
