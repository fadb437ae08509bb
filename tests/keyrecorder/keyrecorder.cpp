// A window that writes every character it receives to standard output as UTF-8, so tests can
// see exactly what arrived through the X server. It looks keys up with Xlib's own input
// method (not the code under test). Prints "READY <window id>" once it is mapped.
//
//   keyrecorder [title]
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    const char* title = argc > 1 ? argv[1] : "keyrecorder";
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr || !XSupportsLocale()) {
        std::fprintf(stderr, "keyrecorder: no UTF-8 locale\n");
        return 2;
    }
    XSetLocaleModifiers("@im=none");
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "keyrecorder: cannot open display\n");
        return 2;
    }
    const int screen = DefaultScreen(display);
    const Window window =
        XCreateSimpleWindow(display, RootWindow(display, screen), 10, 10, 300, 200, 1,
                            BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, title);
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(display, window, &hints);

    XIM inputMethod = XOpenIM(display, nullptr, nullptr, nullptr);
    if (inputMethod == nullptr) {
        std::fprintf(stderr, "keyrecorder: no input method\n");
        return 2;
    }
    XIC inputContext = XCreateIC(inputMethod, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                                 XNClientWindow, window, XNFocusWindow, window, nullptr);
    if (inputContext == nullptr) {
        std::fprintf(stderr, "keyrecorder: no input context\n");
        return 2;
    }
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask | FocusChangeMask);
    XMapWindow(display, window);

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (XFilterEvent(&event, None))
            continue;
        switch (event.type) {
        case MapNotify:
            std::fprintf(stderr, "READY %lu\n", window);
            std::fflush(stderr);
            break;
        case FocusIn:
            XSetICFocus(inputContext);
            break;
        case FocusOut:
            XUnsetICFocus(inputContext);
            break;
        case MappingNotify:
            XRefreshKeyboardMapping(&event.xmapping);
            break;
        case KeyPress: {
            char text[64];
            KeySym keysym = NoSymbol;
            Status status = 0;
            const int length = Xutf8LookupString(inputContext, &event.xkey, text, sizeof text - 1,
                                                 &keysym, &status);
            if ((status == XLookupChars || status == XLookupBoth) && length > 0) {
                std::fwrite(text, 1, static_cast<size_t>(length), stdout);
                std::fflush(stdout);
            }
            break;
        }
        default:
            break;
        }
    }
}
