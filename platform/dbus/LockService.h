#pragma once

#include <QDBusAbstractAdaptor>

#include <functional>

// `varnisk --lock` over the session bus, for screen lockers that tell nobody (i3lock, slock,
// swaylock). Every running editor owns a name of its own, org.nembrow.Varnisk.Instance<pid>,
// with the object /org/nembrow/Varnisk, whose method Lock() (an interface of the application
// object there) locks all of that process's windows and answers once they are locked.
// lockEveryInstance() calls the session's Varnisk and every other one, and waits, bounded, for
// every answer, so that a hook run before sleep can rely on what it returns.
class LockService : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.nembrow.Varnisk")

public:
    // Locks the process's windows; true when every one of them is locked.
    using LockAll = std::function<bool()>;

    // Registers this process on the session bus, if there is one, as an interface of
    // `application`.
    LockService(LockAll lockAll, QObject* application);
    ~LockService() override;

    // What `varnisk --lock` does: calls every running editor and tells on standard error what
    // failed. Returns the exit status: 0 when every one answered that it is locked, 1 when none
    // runs, there is no session bus, or one did not answer in time.
    static int lockEveryInstance();

public slots:
    Q_SCRIPTABLE bool Lock();

private:
    LockAll lockAll;
    QString serviceName;
};
