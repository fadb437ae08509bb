#pragma once

#include <QObject>
#include <QSet>

#include <functional>

// While Type Selection waits for the desktop (its question to the user, the window switch, the
// keys on their way), the program's windows take no input, so that no second Type Selection, no
// edit and no lock shortcut starts in the middle of one; the waits run the event loop, which the
// desktop's answers and the focus changes come through. It also follows which keys the user
// holds in the program's windows, so that typing can wait for the shortcut's key to come up, as
// a careful typist does, and whether Caps Lock is on.
class TypingPause final : public QObject
{
public:
    // Watches the input of every window of the application.
    TypingPause();
    ~TypingPause() override;
    TypingPause(const TypingPause&) = delete;
    TypingPause& operator=(const TypingPause&) = delete;

    // Runs the event loop until `done` holds (checked every few milliseconds) or `milliseconds`
    // have passed, the windows' input held back meanwhile; returns whether `done` held.
    bool waitFor(const std::function<bool()>& done, int milliseconds);
    // Whether a key or a modifier is down that was pressed in one of the program's windows.
    [[nodiscard]] bool keysHeld() const;
    // Whether Caps Lock was on at the last key event in one of the program's windows.
    [[nodiscard]] bool capsLock() const { return locked; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<quint32> held;
    bool locked = false;
    int waiting = 0;
};
