#include "X11WindowSystem.h"

#include "X11ActiveWindowHistory.h"
#include "X11ErrorTrap.h"
#include "X11Keyboard.h"
#include "platform/KeyTaps.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr long activationFromPager = 2; // _NET_ACTIVE_WINDOW source: a tool acting for the user

// Reads a property of 32-bit items (windows, atoms); empty when it is missing.
QVector<unsigned long> longProperty(Display* display, ::Window window, Atom property, Atom type)
{
    QVector<unsigned long> values;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    X11ErrorTrap trap(display);
    const int status = XGetWindowProperty(display, window, property, 0, 1 << 20, False, type,
                                          &actualType, &format, &count, &remaining, &data);
    const X11Buffer<unsigned char> owned(data);
    if (status == Success && data != nullptr && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.reserve(static_cast<int>(count));
        for (unsigned long i = 0; i < count; ++i)
            values.append(items[i]);
    }
    return values;
}

// The parent of `window` and the server's stacking order of its siblings; false if it is gone.
bool queryTree(Display* display, ::Window window, ::Window& parent, QVector<::Window>* children)
{
    ::Window rootReturn = 0;
    ::Window* list = nullptr;
    unsigned int count = 0;
    X11ErrorTrap trap(display);
    const Status status = XQueryTree(display, window, &rootReturn, &parent, &list, &count);
    const X11Buffer<::Window> owned(list);
    if (status != 0 && children != nullptr) {
        for (unsigned int i = 0; i < count; ++i)
            children->append(list[i]);
    }
    return status != 0 && !trap.failed();
}

bool isViewable(Display* display, ::Window window)
{
    XWindowAttributes attributes{};
    X11ErrorTrap trap(display);
    const Status status = XGetWindowAttributes(display, window, &attributes);
    return status != 0 && !trap.failed() && attributes.map_state == IsViewable &&
           attributes.c_class == InputOutput;
}

} // namespace

std::unique_ptr<X11WindowSystem> X11WindowSystem::open(Session session)
{
    X11Display display(XOpenDisplay(nullptr));
    if (display == nullptr)
        return nullptr;
    std::unique_ptr<X11WindowSystem> system(new X11WindowSystem(std::move(display)));
    if (session == Session::XWayland) {
        // Without the history any X11 window could be the one behind.
        system->history = X11ActiveWindowHistory::shared();
        if (!system->history)
            return nullptr;
    }
    return system;
}

X11WindowSystem::X11WindowSystem(X11Display opened)
    : connection(std::move(opened)), display(connection.get()), root(DefaultRootWindow(display))
{
    X11Keyboard::reclaimSpares(display);
}

X11WindowSystem::~X11WindowSystem()
{
    restoreKeyboard();
}

unsigned long X11WindowSystem::atom(const char* name) const
{
    return XInternAtom(display, name, False);
}

bool X11WindowSystem::windowManagerRunning() const
{
    // A window manager that quit leaves its root properties behind; its check window is gone.
    const Atom check = atom("_NET_SUPPORTING_WM_CHECK");
    const QVector<unsigned long> windows = longProperty(display, root, check, XA_WINDOW);
    if (windows.isEmpty())
        return false;
    const QVector<unsigned long> self = longProperty(display, windows.first(), check, XA_WINDOW);
    return !self.isEmpty() && self.first() == windows.first();
}

bool X11WindowSystem::windowManagerSupports(const char* atomName) const
{
    return windowManagerRunning() &&
           longProperty(display, root, atom("_NET_SUPPORTED"), XA_ATOM).contains(atom(atomName));
}

bool X11WindowSystem::isManagedClient(Window window) const
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom wmState = atom("WM_STATE");
    X11ErrorTrap trap(display);
    const int status = XGetWindowProperty(display, window, wmState, 0, 2, False, wmState,
                                          &actualType, &format, &count, &remaining, &data);
    const X11Buffer<unsigned char> owned(data);
    return status == Success && !trap.failed() && actualType == wmState;
}

bool X11WindowSystem::managedStacking(QVector<Window>& windows) const
{
    windows.clear();
    if (!windowManagerSupports("_NET_CLIENT_LIST_STACKING"))
        return false;
    for (unsigned long window :
         longProperty(display, root, atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW))
        windows.append(window);
    return !windows.isEmpty();
}

X11WindowSystem::Window X11WindowSystem::rootChild(Window window) const
{
    while (window != 0 && window != root) {
        ::Window parent = 0;
        if (!queryTree(display, window, parent, nullptr))
            return 0;
        if (parent == root)
            return window;
        window = parent;
    }
    return 0;
}

X11WindowSystem::Window X11WindowSystem::activeBefore(Window top) const
{
    // The program's own windows (dialogs, the splash screen) and closed ones are passed over.
    const auto passOver = [this](Window window) {
        for (const QWindow* own : QGuiApplication::allWindows()) {
            if (own->handle() != nullptr && own->winId() == window)
                return true;
        }
        XWindowAttributes attributes{};
        X11ErrorTrap trap(display);
        return XGetWindowAttributes(display, window, &attributes) == 0 || trap.failed();
    };
    history->update();
    return history->activeBefore(top, passOver);
}

X11WindowSystem::Window X11WindowSystem::nextWindow(Window window)
{
    if (window == 0)
        return 0;
    Window top = window;
    for (Window parent = parentWindow(top); parent != 0; parent = parentWindow(parent))
        top = parent;
    if (history)
        return activeBefore(top);

    // "Directly behind" on X11: the next window down the window manager's stacking list
    // (_NET_CLIENT_LIST_STACKING) that is mapped, or without a window manager the next
    // viewable child of the root in the server's stacking order. Windows the user cannot see
    // (minimised, on another desktop, unmapped helpers) lie behind nothing and are passed
    // over, so this may go further down than one window; it still yields exactly one target.
    QVector<Window> stacking; // bottom to top
    if (managedStacking(stacking)) {
        const int index = stacking.indexOf(top);
        if (index >= 0) {
            for (int i = index - 1; i >= 0; --i) {
                if (isViewable(display, stacking.at(i)))
                    return stacking.at(i);
            }
            return 0;
        }
    }

    const Window child = rootChild(top);
    ::Window parent = 0;
    QVector<::Window> children;
    if (child == 0 || !queryTree(display, root, parent, &children))
        return 0;
    for (int i = children.indexOf(child) - 1; i >= 0; --i) {
        if (isViewable(display, children.at(i)))
            return children.at(i);
    }
    return 0;
}

X11WindowSystem::Window X11WindowSystem::parentWindow(Window window)
{
    // The top is the window manager's client window (what _NET_ACTIVE_WINDOW wants), or a
    // child of the root without a window manager.
    if (window == 0 || window == root || isManagedClient(window))
        return 0;
    ::Window parent = 0;
    if (!queryTree(display, window, parent, nullptr) || parent == root)
        return 0;
    return parent;
}

bool X11WindowSystem::isWindowVisible(Window window)
{
    return window != 0 && isViewable(display, window);
}

void X11WindowSystem::showWindow(Window window)
{
    X11ErrorTrap trap(display);
    XMapRaised(display, window);
}

bool X11WindowSystem::setForegroundWindow(Window window)
{
    foreground = window;
    X11ErrorTrap trap(display);
    if (isManagedClient(window) && windowManagerSupports("_NET_ACTIVE_WINDOW")) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = atom("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = activationFromPager;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
    return !trap.failed();
}

void X11WindowSystem::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}

bool X11WindowSystem::focusIsInForeground() const
{
    if (foreground == 0)
        return false;
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // PointerRoot and None send keys wherever the pointer is: not into a known window.
    while (focus != None && focus != PointerRoot && focus != root) {
        if (focus == foreground)
            return true;
        ::Window parent = 0;
        if (!queryTree(display, focus, parent, nullptr))
            return false;
        focus = parent;
    }
    return false;
}

int X11WindowSystem::sendInput(const QVector<KeyRecord>& records)
{
    QVector<KeyTaps::Tap> taps;
    X11Keyboard keyboard(display);
    if (!KeyTaps::fromRecords(records, true, taps) || !keyboard.load() || !keyboard.plan(taps))
        return 0;

    // A Shift or Ctrl still held from the shortcut would change every key; a careful typist
    // waits for it. The focus may still be on its way to the target.
    const QDeadlineTimer deadline(modifierReleaseWaitMs);
    bool ready = false;
    while (!(ready = !keyboard.modifiersHeld() && focusIsInForeground()) && !deadline.hasExpired())
        QThread::msleep(20);
    int delivered = 0;
    // A password must never land in whatever window took the focus meanwhile.
    if (ready)
        delivered = keyboard.type();
    for (KeyTaps::Tap& tap : taps)
        tap = KeyTaps::Tap();
    return delivered;
}

void X11WindowSystem::restoreKeyboard()
{
    X11Keyboard::restoreSpares(display);
}
