#include "ApplicationService.h"

#include "SessionObject.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QUrl>

#include <utility>

namespace {

const QString interfaceName = QStringLiteral("org.freedesktop.Application");
// The caller's display, so that a Varnisk on another one (ssh -X, a second X server) is not
// asked to open windows where its caller cannot see them.
const std::pair<QString, const char*> displays[] = {
    {QStringLiteral("display"), "DISPLAY"},
    {QStringLiteral("wayland-display"), "WAYLAND_DISPLAY"},
};
constexpr int answerWithinMs = 3000;

void refuse(const QDBusMessage& message, const QString& name, const QString& text)
{
    message.setDelayedReply(true);
    QDBusConnection::sessionBus().send(message.createErrorReply(name, text));
}

QVariantMap platformData()
{
    QVariantMap data;
    for (const auto& [key, variable] : displays)
        data.insert(key, qEnvironmentVariable(variable));
    // What the desktop gave this launch, for the window that answers it.
    for (const auto& [key, variable] : {std::pair{"activation-token", "XDG_ACTIVATION_TOKEN"},
                                        std::pair{"desktop-startup-id", "DESKTOP_STARTUP_ID"}}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            data.insert(QString::fromLatin1(key), qEnvironmentVariable(variable));
    }
    return data;
}

} // namespace

ApplicationService::ApplicationService(Request requests, QObject* application)
    : QDBusAbstractAdaptor(application), request(std::move(requests))
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Shown before the name is claimed: a caller that finds the name finds the object too.
    owned = bus.isConnected() && SessionObject::show(bus) &&
            bus.registerService(SessionObject::wellKnownName);
}

ApplicationService::~ApplicationService()
{
    releaseName();
}

void ApplicationService::releaseName()
{
    released = true;
    if (owned)
        QDBusConnection::sessionBus().unregisterService(SessionObject::wellKnownName);
    owned = false;
}

bool ApplicationService::acceptable(const QVariantMap& data, const QDBusMessage& message) const
{
    if (released) {
        refuse(message, QStringLiteral("org.nembrow.Varnisk.Error.Closing"),
               QStringLiteral("This Varnisk is closing"));
        return false;
    }
    for (const auto& [key, variable] : displays) {
        if (data.contains(key) && data.value(key).toString() != qEnvironmentVariable(variable)) {
            refuse(message, QStringLiteral("org.nembrow.Varnisk.Error.OtherDisplay"),
                   QStringLiteral("This Varnisk runs on another display"));
            return false;
        }
    }
    return true;
}

void ApplicationService::Activate(const QVariantMap& data, const QDBusMessage& message)
{
    if (acceptable(data, message))
        request({});
}

void ApplicationService::Open(const QStringList& uris, const QVariantMap& data,
                              const QDBusMessage& message)
{
    if (!acceptable(data, message))
        return;
    QStringList files;
    for (const QString& uri : uris) {
        const QString file = QUrl(uri).toLocalFile();
        if (!QDir::isAbsolutePath(file)) {
            refuse(message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                   QStringLiteral("Only local files are opened, by absolute names"));
            return;
        }
        files << file;
    }
    request(files);
}

void ApplicationService::ActivateAction(const QString&, const QVariantList&, const QVariantMap&,
                                        const QDBusMessage& message)
{
    refuse(message, QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
           QStringLiteral("Varnisk has no actions"));
}

ApplicationService::HandOver ApplicationService::handOver(const QStringList& names)
{
    // A connection of its own, closed again: when this process starts on its own after all,
    // its application's connection must not have been made before the application.
    const QString connectionName = QStringLiteral("varnisk-hand-over");
    struct Connection
    {
        QDBusConnection bus;
        ~Connection() { QDBusConnection::disconnectFromBus(bus.name()); }
    } connection{QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)};
    if (!connection.bus.isConnected())
        return HandOver::NoInstance;

    QStringList uris;
    for (const QString& name : names)
        uris << QUrl::fromLocalFile(QDir::current().absoluteFilePath(name))
                    .toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        SessionObject::wellKnownName, SessionObject::path, interfaceName,
        uris.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    if (!uris.isEmpty())
        call << uris;
    call << platformData();
    // No service files: without a running Varnisk the answer comes at once.
    call.setAutoStartService(false);
    const QDBusMessage reply = connection.bus.call(call, QDBus::Block, answerWithinMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return HandOver::Done;
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return HandOver::NoInstance;
    return HandOver::Refused;
}
