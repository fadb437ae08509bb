#include "X11StartupNotification.h"

#include "X11Handles.h"

#include <X11/Xlib.h>

#include <cstring>

bool X11StartupNotification::complete(const QByteArray& startupId)
{
    const X11Display display(startupId.isEmpty() ? nullptr : XOpenDisplay(nullptr));
    if (display == nullptr)
        return false;
    QByteArray message = "remove: ID=\"";
    for (const char c : startupId)
        message.append(c == '"' || c == '\\' ? QByteArray("\\") + c : QByteArray(1, c));
    message.append("\"");
    message.append('\0');
    // The text goes to every client that listens on the root window, 20 bytes per message,
    // from a window of the sender's.
    const Window root = DefaultRootWindow(display.get());
    const Window sender = XCreateSimpleWindow(display.get(), root, -1, -1, 1, 1, 0, 0, 0);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = sender;
    event.xclient.format = 8;
    event.xclient.message_type = XInternAtom(display.get(), "_NET_STARTUP_INFO_BEGIN", False);
    const Atom more = XInternAtom(display.get(), "_NET_STARTUP_INFO", False);
    for (int at = 0; at < message.size(); at += 20) {
        std::memset(event.xclient.data.b, 0, sizeof event.xclient.data.b);
        std::memcpy(event.xclient.data.b, message.constData() + at, qMin(20, message.size() - at));
        XSendEvent(display.get(), root, False, PropertyChangeMask, &event);
        event.xclient.message_type = more;
    }
    XDestroyWindow(display.get(), sender);
    XSync(display.get(), False);
    return true;
}
