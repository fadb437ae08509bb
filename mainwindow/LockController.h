#pragma once

#include "dialogs/LockSettings.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class LockService;
class SessionLockEvents;
class Varnisk;
class QWidget;

// Decides, for the whole process, when the editor windows lock: Ctrl+L anywhere in the program
// (a dialog that is up included), no input to the program for the idle time, the desktop's screen
// locker, logind before sleep, and `varnisk --lock`. While the setting asks for it and any window
// is unlocked, it holds a sleep delay inhibitor, released once every window is locked, so the
// lock is done before the system sleeps. Made by the first window; each window registers.
class LockController : public QObject
{
    Q_OBJECT

public:
    static LockController& instance();
    // The instance, or null while there is none (before the first window, after the application).
    static LockController* existing();

    void add(Varnisk* window);
    void remove(Varnisk* window);
    // A window was locked or unlocked.
    void lockStateChanged();
    // The settings dialog stored new values.
    void reloadSettings();
    [[nodiscard]] const LockSettings& settings() const { return lockSettings; }

    // Locks every window; true when all of them are locked.
    bool lockAll();

    // Ctrl+L, the lock's key.
    [[nodiscard]] static bool isLockKey(const QEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit LockController(QObject* parent);
    void noteInput();
    void idleTimeout();
    void screenLocked();
    void sleepComing();
    void sleepEnded();
    void updateSleepDelay();
    Varnisk* ownerOf(QWidget* widget) const;

    QList<Varnisk*> windows;
    LockSettings lockSettings;
    QTimer idleTimer;
    QElapsedTimer sinceInput;
    bool sleeping = false;
    SessionLockEvents* desktop;
    LockService* service;
};
