#pragma once

#include <QString>

class QDBusConnection;

// The one object a Varnisk shows on the session bus, /org/nembrow/Varnisk: its application
// object, whose D-Bus adaptors (LockService, ApplicationService) are the interfaces there. The
// session's first Varnisk also owns the well-known name, so that a later one finds it.
class SessionObject
{
public:
    static const QString path;
    static const QString wellKnownName;

    // Shows the application object at `path` unless it is shown there already; false when the
    // bus refuses.
    static bool show(QDBusConnection& bus);
};
