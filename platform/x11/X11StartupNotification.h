#pragma once

#include <QByteArray>

// The end of the desktop's launch feedback on X11 (the startup-notification protocol). A
// `varnisk` that hands its files to the running Varnisk shows no window, which would have ended
// its launch by appearing; so it says "remove" for its launch itself, and the busy cursor or
// the panel's entry goes at once instead of at the launcher's time-out.
class X11StartupNotification
{
public:
    // Ends the launch `startupId` (DESKTOP_STARTUP_ID) on $DISPLAY; false when there is none.
    static bool complete(const QByteArray& startupId);
};
