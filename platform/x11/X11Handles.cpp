#include "X11Handles.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

void X11Deleter::operator()(_XDisplay* display) const
{
    XCloseDisplay(display);
}

void X11Deleter::operator()(_XkbDesc* keymap) const
{
    XkbFreeKeyboard(keymap, XkbAllComponentsMask, True);
}

void X11Deleter::operator()(void* buffer) const
{
    XFree(buffer);
}
