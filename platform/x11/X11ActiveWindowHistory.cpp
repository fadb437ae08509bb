#include "X11ActiveWindowHistory.h"

#include "X11ErrorTrap.h"

#include <QSocketNotifier>

#include <algorithm>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

X11ActiveWindowHistory::X11ActiveWindowHistory(X11Display opened)
    : connection(std::move(opened)), display(connection.get()),
      activeAtom(XInternAtom(display, "_NET_ACTIVE_WINDOW", False))
{
    const ::Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    XSelectInput(display, root, attributes.your_event_mask | PropertyChangeMask);
    XSync(display, False);
    record(activeWindow(), 0);
    notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { update(); });
}

std::shared_ptr<X11ActiveWindowHistory> X11ActiveWindowHistory::shared()
{
    static std::weak_ptr<X11ActiveWindowHistory> current;
    std::shared_ptr<X11ActiveWindowHistory> history = current.lock();
    if (!history) {
        X11Display display(XOpenDisplay(nullptr));
        if (display == nullptr)
            return nullptr;
        history.reset(new X11ActiveWindowHistory(std::move(display)));
        current = history;
    }
    return history;
}

X11ActiveWindowHistory::~X11ActiveWindowHistory()
{
    // The notifier watches the connection: it goes first.
    notifier.reset();
}

unsigned long X11ActiveWindowHistory::activeWindow() const
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    X11ErrorTrap trap(display);
    XGetWindowProperty(display, DefaultRootWindow(display), activeAtom, 0, 1, False, XA_WINDOW,
                       &type, &format, &count, &remaining, &data);
    const X11Buffer<unsigned char> owned(data);
    if (data != nullptr && format == 32 && count == 1)
        return *reinterpret_cast<const unsigned long*>(data);
    return 0;
}

void X11ActiveWindowHistory::record(unsigned long window, unsigned long time)
{
    if (!order.isEmpty() && order.last().window == window)
        return;
    // Server times are 32-bit milliseconds that wrap around.
    if (!order.isEmpty() && order.last().window == 0 &&
        static_cast<quint32>(time - order.last().since) < handOverMs)
        order.removeLast();
    // Only the latest activation of a window counts.
    if (window != 0) {
        order.erase(std::remove_if(order.begin(), order.end(),
                                   [window](const Entry& entry) { return entry.window == window; }),
                    order.end());
    }
    if (!order.isEmpty() && order.last().window == window)
        return;
    order.append({window, time});
    if (order.size() > capacity)
        order.removeFirst();
}

QVector<unsigned long> X11ActiveWindowHistory::readChanges()
{
    // XPending also reads what arrived; events that replies brought along wait in the queue.
    QVector<unsigned long> times;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify && event.xproperty.atom == activeAtom)
            times.append(event.xproperty.time);
    }
    return times;
}

void X11ActiveWindowHistory::update()
{
    // A change event does not carry the value: it is read afterwards, and only the value of
    // the last change can be read. The values before it are unknown, and each that lasted
    // longer than a hand-over may have been a window outside the X server.
    QVector<unsigned long> times = readChanges();
    while (!times.isEmpty()) {
        const unsigned long window = activeWindow();
        // Changes made before the value was read arrive before its reply: then the value
        // read may belong to one of them.
        const QVector<unsigned long> later = readChanges();
        for (int i = 0; i < times.size(); ++i) {
            const bool last = i + 1 == times.size();
            if (last && later.isEmpty())
                record(window, times.at(i));
            else if (static_cast<quint32>((last ? later.first() : times.at(i + 1)) - times.at(i)) >=
                     handOverMs)
                record(0, times.at(i));
        }
        times = later;
    }
}

unsigned long
X11ActiveWindowHistory::activeBefore(unsigned long window,
                                     const std::function<bool(unsigned long)>& passOver) const
{
    int index = order.size() - 1;
    while (index >= 0 && order.at(index).window != window)
        --index;
    for (int i = index - 1; i >= 0; --i) {
        if (order.at(i).window == 0 || !passOver(order.at(i).window))
            return order.at(i).window;
    }
    return 0;
}
