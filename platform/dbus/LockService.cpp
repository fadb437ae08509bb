#include "LockService.h"

#include "SessionObject.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>

#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

const QString namePrefix = QStringLiteral("org.nembrow.Varnisk.Instance");
const QString interfaceName = QStringLiteral("org.nembrow.Varnisk");
// swayidle's before-sleep runs while logind waits, at most 5 s by default. A window whose
// document is in format version 6 seals it with one Argon2id derivation (about a second here,
// more on a slow or busy machine), and one process locks its windows one after the other.
constexpr int answerWithinMs = 5000;

void tell(const QString& text)
{
    std::fprintf(stderr, "varnisk: %s\n", qPrintable(text));
}

// The session's Varnisk first, then the programs that own only a name of their own (started
// before it, or on their own), each program once: the session's Varnisk owns both kinds.
QStringList instances(QDBusConnection& bus, const QStringList& names,
                      const QDeadlineTimer& deadline)
{
    QStringList wanted;
    for (const QString& name : names) {
        if (name == SessionObject::wellKnownName)
            wanted.prepend(name);
        else if (name.startsWith(namePrefix))
            wanted.append(name);
    }
    QStringList owners;
    for (const QString& name : std::as_const(wanted)) {
        QDBusMessage getOwner = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
        getOwner << name;
        const QDBusMessage owner =
            bus.call(getOwner, QDBus::Block, qMax(1, static_cast<int>(deadline.remainingTime())));
        const QString unique = owner.arguments().value(0).toString();
        if (owner.type() == QDBusMessage::ReplyMessage && !owners.contains(unique))
            owners << unique;
    }
    return owners;
}

} // namespace

LockService::LockService(LockAll lock, QObject* application)
    : QDBusAbstractAdaptor(application), lockAll(std::move(lock))
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const QString name = namePrefix + QString::number(getpid());
    if (!SessionObject::show(bus) || !bus.registerService(name))
        return;
    serviceName = name;
}

LockService::~LockService()
{
    if (serviceName.isEmpty())
        return;
    QDBusConnection::sessionBus().unregisterService(serviceName);
}

bool LockService::Lock()
{
    return lockAll();
}

int LockService::lockEveryInstance()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        tell(QCoreApplication::translate("LockService",
                                         "no session bus: no running Varnisk can be reached"));
        return 1;
    }
    const QDeadlineTimer deadline(answerWithinMs);
    QDBusMessage listNames = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    const QDBusMessage names =
        bus.call(listNames, QDBus::Block, static_cast<int>(deadline.remainingTime()));
    std::vector<QDBusPendingCall> calls;
    if (names.type() == QDBusMessage::ReplyMessage && !names.arguments().isEmpty()) {
        for (const QString& name :
             instances(bus, names.arguments().constFirst().toStringList(), deadline)) {
            // All asked at once, each with what is left of the common time.
            calls.push_back(
                bus.asyncCall(QDBusMessage::createMethodCall(name, SessionObject::path,
                                                             interfaceName, QStringLiteral("Lock")),
                              qMax(1, static_cast<int>(deadline.remainingTime()))));
        }
    }
    if (calls.empty()) {
        tell(QCoreApplication::translate("LockService", "no running Varnisk to lock"));
        return 1;
    }
    int locked = 0;
    for (QDBusPendingCall& call : calls) {
        call.waitForFinished();
        const QDBusMessage reply = call.reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            reply.arguments().constFirst().toBool())
            ++locked;
    }
    if (locked == static_cast<int>(calls.size()))
        return 0;
    tell(
        QCoreApplication::translate(
            "LockService", "%1 of %2 running Varnisk did not confirm that their windows are locked")
            .arg(static_cast<int>(calls.size()) - locked)
            .arg(calls.size()));
    return 1;
}
