#pragma once

#include "PortalSession.h"
#include "TypingPause.h"
#include "platform/WindowSystem.h"

// Type Selection through the desktop's RemoteDesktop portal, for compositors that give their
// Wayland clients neither a window list nor virtual keyboards (GNOME's mutter, KDE's KWin).
// Without a window list the window behind is the one that had the focus before the program's:
// the desktop's own window switch (Alt+Tab, sent through the session) gives it the focus and,
// after TAB or ENTER, brings the program back. The desktop looks each key's keysym up in its
// keymap and drops one it cannot find without a word, so every character is checked against
// that keymap before the first key, and a text it cannot produce entirely is not typed at all.
// One session serves the whole run (the desktop asks the user when it starts); the lock ends it.
class PortalWindowSystem final : public WindowSystem
{
public:
    PortalWindowSystem();
    ~PortalWindowSystem() override;

    // The only window it knows: the one that had the focus before the program's.
    static constexpr Window previousWindow = 1;

    Window nextWindow(Window) override { return previousWindow; }
    Window parentWindow(Window) override { return 0; }
    bool isWindowVisible(Window window) override { return window == previousWindow; }
    void showWindow(Window) override {}
    // Asks the desktop for the session if none runs, waits for the user's keys to come up,
    // and switches to the window before.
    bool setForegroundWindow(Window window) override;
    // Keeps the event loop running meanwhile, the program's input held back.
    void sleep(int milliseconds) override;
    quintptr messageExtraInfo() override { return 0; }
    int sendInput(const QVector<KeyRecord>& records) override;
    // Ends the session: nothing can type while a document is locked.
    void restoreKeyboard() override;
    bool activateOwnWindow(Window window) override;
    Refusal refusal() const override { return failure; }

    // Longest waits for the user's keys to come up and for the focus to move.
    static constexpr int keyReleaseWaitMs = 1000;
    static constexpr int focusWaitMs = 1000;

private:
    bool press(quint32 keysym); // down and up
    bool switchWindow();
    void forgetFailure();

    TypingPause pause;
    PortalSession session;
    bool switched = false; // the focus went to the window before
    Refusal failure;
};
