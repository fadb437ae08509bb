#include "LockService.h"

#include "SessionObject.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
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

QByteArray readProc(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Started with an option (--lock, --help, --version): not an editor, which takes none.
bool answersOption(const QByteArray& commandLine)
{
    const QList<QByteArray> arguments = commandLine.split('\0');
    return std::any_of(arguments.begin() + 1, arguments.end(),
                       [](const QByteArray& argument) { return argument.startsWith("--"); });
}

// The editors of this user in this login session on this machine, found without the bus: the
// processes that bear this program's name (their other files are closed to their user).
QSet<quint32> runningEditors()
{
    const QByteArray name = readProc(QStringLiteral("/proc/self/comm"));
    const QByteArray session = readProc(QStringLiteral("/proc/self/sessionid"));
    const QByteArray user = "Uid:\t" + QByteArray::number(getuid()) + '\t';
    QSet<quint32> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isProcess = false;
        const qint64 pid = entry.toLongLong(&isProcess);
        const QString folder = QStringLiteral("/proc/") + entry + QLatin1Char('/');
        if (isProcess && pid != getpid() && readProc(folder + QStringLiteral("comm")) == name &&
            readProc(folder + QStringLiteral("sessionid")) == session &&
            readProc(folder + QStringLiteral("status")).contains('\n' + user) &&
            !answersOption(readProc(folder + QStringLiteral("cmdline"))))
            found.insert(quint32(pid));
    }
    return found;
}

} // namespace

LockService::LockService(LockAll lock, QObject* application)
    : QDBusAbstractAdaptor(application), lockAll(std::move(lock))
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const QString name = namePrefix + QString::number(getpid());
    if (!SessionObject::show(bus) || !bus.registerService(name)) {
        // Taken by another program, or by an editor of the same number in another namespace:
        // `varnisk --lock` may not reach this one, and then counts it as not reached.
        tell(QCoreApplication::translate("LockService",
                                         "the name %1 cannot be had on the session bus: "
                                         "\"varnisk --lock\" does not reach this Varnisk")
                 .arg(name));
        return;
    }
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
    std::vector<quint32> owners; // the process behind each name, as the bus knows it
    if (names.type() == QDBusMessage::ReplyMessage && !names.arguments().isEmpty()) {
        for (const QString& name :
             instances(bus, names.arguments().constFirst().toStringList(), deadline)) {
            // All asked at once, each with what is left of the common time.
            calls.push_back(
                bus.asyncCall(QDBusMessage::createMethodCall(name, SessionObject::path,
                                                             interfaceName, QStringLiteral("Lock")),
                              qMax(1, static_cast<int>(deadline.remainingTime()))));
            owners.push_back(bus.interface()->servicePid(name).value());
        }
    }
    // Every editor running here, reached on the bus or not (its name taken by another program,
    // or by an editor of the same number in another namespace).
    QSet<quint32> unlocked = runningEditors();
    if (calls.empty() && unlocked.isEmpty()) {
        tell(QCoreApplication::translate("LockService", "no running Varnisk to lock"));
        return 1;
    }
    const int found = unlocked.size();
    int locked = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        calls[i].waitForFinished();
        const QDBusMessage reply = calls[i].reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            reply.arguments().constFirst().toBool()) {
            ++locked;
            unlocked.remove(owners[i]);
        }
    }
    if (!unlocked.isEmpty()) {
        tell(QCoreApplication::translate("LockService",
                                         "%1 running Varnisk found, %2 of them not reached on the "
                                         "session bus")
                 .arg(found)
                 .arg(unlocked.size()));
        return 1;
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
