#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QDBusPendingCallWatcher;

// What the desktop says about locking, heard on D-Bus: the screen locker starting
// (ActiveChanged(true) of the freedesktop, GNOME, MATE, Xfce and Cinnamon screen savers on the
// session bus, each only from the owner of its name), logind locking this session (its Lock signal,
// its LockedHint turning true) and the system going to sleep (logind's PrepareForSleep(true)). It
// also holds logind's delay inhibitor for sleep while asked to, so that the listener can lock
// before the system sleeps. Without a session or system bus it hears nothing from that bus and
// nothing fails.
class SessionLockEvents : public QObject
{
    Q_OBJECT

public:
    explicit SessionLockEvents(QObject* parent);

    // Holds one delay inhibitor for sleep while `hold` is true, and releases it at once when not.
    void holdSleepDelay(bool hold);

signals:
    void screenLocked();
    // The system is about to sleep; it waits for a held delay inhibitor to be released.
    void sleepComing();
    void sleepEnded();

    // QtDBus connects the bus's signals by slot name only: these are the slots it calls.
private slots:
    void screenSaverActiveChanged(bool active);
    void sessionLocked();
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);
    void prepareForSleep(bool start);

private:
    void sessionFound(QDBusPendingCallWatcher* call);
    void lockedHintRead(QDBusPendingCallWatcher* call);
    void inhibitorTaken(QDBusPendingCallWatcher* call);

    QString sessionPath;
    bool delayWanted = false;
    bool inhibitPending = false;
    // The one descriptor of the inhibitor: logind lets the sleep go on once it is closed.
    QDBusUnixFileDescriptor inhibitor;
};
