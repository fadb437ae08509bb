#include "X11ErrorTrap.h"

#include <X11/Xlib.h>

namespace {

int trappedError = 0;

int recordError(Display*, XErrorEvent* event)
{
    if (trappedError == 0)
        trappedError = event->error_code;
    return 0;
}

using Handler = int (*)(Display*, XErrorEvent*);

} // namespace

X11ErrorTrap::X11ErrorTrap(_XDisplay* connection) : display(connection), outerError(trappedError)
{
    XSync(display, False);
    trappedError = 0;
    previousHandler = reinterpret_cast<int (*)(_XDisplay*, void*)>(XSetErrorHandler(recordError));
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(display, False);
    XSetErrorHandler(reinterpret_cast<Handler>(previousHandler));
    trappedError = outerError;
}

bool X11ErrorTrap::failed()
{
    XSync(display, False);
    return trappedError != 0;
}
