#include "SessionLockEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString lockedHint = QStringLiteral("LockedHint");

QDBusMessage managerCall(const QString& method)
{
    return QDBusMessage::createMethodCall(login1, managerPath, managerInterface, method);
}

} // namespace

SessionLockEvents::SessionLockEvents(QObject* parent) : QObject(parent)
{
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        // Each locker's signal counts only from the owner of its name (QtDBus follows the owner),
        // on any path: KDE also sends it from /ScreenSaver.
        for (const QString& locker :
             {QStringLiteral("org.freedesktop.ScreenSaver"),
              QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("org.mate.ScreenSaver"),
              QStringLiteral("org.xfce.ScreenSaver"), QStringLiteral("org.cinnamon.ScreenSaver")}) {
            session.connect(locker, QString(), locker, QStringLiteral("ActiveChanged"), this,
                            SLOT(screenSaverActiveChanged(bool)));
        }
    }

    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected())
        return;
    system.connect(login1, managerPath, managerInterface, QStringLiteral("PrepareForSleep"), this,
                   SLOT(prepareForSleep(bool)));
    // "auto" is this process's session, or else the user's display session: programs started
    // by the desktop often belong to no session of their own.
    QDBusMessage getSession = managerCall(QStringLiteral("GetSession"));
    getSession << QStringLiteral("auto");
    auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(getSession), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &SessionLockEvents::sessionFound);
}

void SessionLockEvents::sessionFound(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (reply.isError())
        return;
    sessionPath = reply.value().path();
    QDBusConnection system = QDBusConnection::systemBus();
    system.connect(login1, sessionPath, sessionInterface, QStringLiteral("Lock"), this,
                   SLOT(sessionLocked()));
    system.connect(login1, sessionPath, propertiesInterface, QStringLiteral("PropertiesChanged"),
                   this, SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

void SessionLockEvents::screenSaverActiveChanged(bool active)
{
    if (active)
        emit screenLocked();
}

void SessionLockEvents::sessionLocked()
{
    emit screenLocked();
}

void SessionLockEvents::sessionPropertiesChanged(const QString& interface,
                                                 const QVariantMap& changed,
                                                 const QStringList& invalidated)
{
    if (interface != sessionInterface)
        return;
    if (changed.contains(lockedHint)) {
        if (changed.value(lockedHint).toBool())
            emit screenLocked();
        return;
    }
    if (!invalidated.contains(lockedHint))
        return;
    // Only announced as changed: read it.
    QDBusMessage get = QDBusMessage::createMethodCall(login1, sessionPath, propertiesInterface,
                                                      QStringLiteral("Get"));
    get << sessionInterface << lockedHint;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &SessionLockEvents::lockedHintRead);
}

void SessionLockEvents::lockedHintRead(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (!reply.isError() && reply.value().variant().toBool())
        emit screenLocked();
}

void SessionLockEvents::prepareForSleep(bool start)
{
    if (start)
        emit sleepComing();
    else
        emit sleepEnded();
}

void SessionLockEvents::holdSleepDelay(bool hold)
{
    delayWanted = hold;
    if (!hold) {
        inhibitor = QDBusUnixFileDescriptor(); // closes it
        return;
    }
    if (inhibitor.isValid() || inhibitPending)
        return;
    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected())
        return;
    QDBusMessage inhibit = managerCall(QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep") << QStringLiteral("Varnisk")
            << QStringLiteral("Locking the open documents") << QStringLiteral("delay");
    inhibitPending = true;
    auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(inhibit), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &SessionLockEvents::inhibitorTaken);
}

void SessionLockEvents::inhibitorTaken(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    inhibitPending = false;
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (reply.isError() || !delayWanted)
        return; // an unwanted descriptor closes with the reply
    inhibitor = reply.value();
}
