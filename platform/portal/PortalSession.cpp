#include "PortalSession.h"

#include "TypingPause.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSettings>

namespace {

const QString connectionName = QStringLiteral("varnisk-portal");
const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString restoreTokenKey = QStringLiteral("TypeSelection/portalRestoreToken");

constexpr uint keyboard = 1; // device type
constexpr quint32 keyShiftL = 0xffe1;
constexpr int primeMs = 100;
constexpr uint untilRevoked = 2; // persist mode
// A request's outcome: the portal's responses, and one of ours for none.
constexpr uint granted = 0, cancelled = 1, ended = 2, noAnswer = 100;
// Calls the portal answers at once, unlike the question to the user (a Response signal).
constexpr int callTimeoutMs = 5000;
// The portal is started on the first call, if it does not run yet.
constexpr int earlyCallTimeoutMs = 3000;

QDBusMessage keyCall(const QString& session, quint32 keysym, bool pressed)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, desktopPath, remoteDesktop,
                                                       QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap()
         << static_cast<int>(keysym) << static_cast<uint>(pressed ? 1 : 0);
    return call;
}

} // namespace

PortalSession::PortalSession(TypingPause& waits)
    : pause(waits), bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{}

PortalSession::~PortalSession()
{
    close();
}

void PortalSession::connectEarly()
{
    QDBusConnection early =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    // A key for a session that does not exist: the portal inspects the caller, keeps what it
    // found for the connection, and refuses the key.
    if (early.isConnected())
        early.call(keyCall(QStringLiteral("/org/freedesktop/portal/desktop/session/varnisk/none"),
                           0, false),
                   QDBus::Block, earlyCallTimeoutMs);
}

uint PortalSession::version()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, desktopPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << remoteDesktop << QStringLiteral("version");
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
}

uint PortalSession::request(const QString& method, QVariantList arguments, QVariantMap options,
                            QVariantMap& results)
{
    // The portal names the request after the caller and a token of its choosing; its answer
    // may come before the call returns, so it is listened for first.
    const QString token = QStringLiteral("varnisk%1").arg(++tokens);
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                             .arg(bus.baseService().mid(1).replace(QLatin1Char('.'), '_'), token);
    const auto listen = [&](bool on) {
        const QString response = QStringLiteral("Response");
        // QtDBus connects signals by their slot's signature only.
        return on ? bus.connect(service, path, requestInterface, response, this,
                                SLOT(onResponse(uint, QVariantMap)))
                  : bus.disconnect(service, path, requestInterface, response, this,
                                   SLOT(onResponse(uint, QVariantMap)));
    };
    answered = false;
    answerResults.clear();
    if (!listen(true))
        return noAnswer;
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(service, desktopPath, remoteDesktop, method);
    call.setArguments(arguments << options);
    const int closingsBefore = closings;
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage &&
        reply.arguments().value(0).value<QDBusObjectPath>().path() == path)
        pause.waitFor([&] { return answered || closings != closingsBefore; }, answerTimeoutMs);
    listen(false);
    if (!answered || closings != closingsBefore) {
        // A question still showing goes.
        bus.send(QDBusMessage::createMethodCall(service, path, requestInterface,
                                                QStringLiteral("Close")));
        return noAnswer;
    }
    results = answerResults;
    return answer;
}

void PortalSession::onResponse(uint code, const QVariantMap& results)
{
    answered = true;
    answer = code;
    answerResults = results;
}

PortalSession::Start PortalSession::start()
{
    if (isStarted())
        return Start::Started;
    if (!bus.isConnected())
        return Start::Failed;
    QVariantMap results;
    uint code = request(
        QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), QStringLiteral("varnisk%1").arg(++sessions)}},
        results);
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    session = handle.userType() == qMetaTypeId<QDBusObjectPath>()
                  ? handle.value<QDBusObjectPath>().path()
                  : handle.toString();
    if (code == granted && !session.isEmpty()) {
        bus.connect(service, session, sessionInterface, QStringLiteral("Closed"), this,
                    SLOT(onClosed()));
        QVariantMap devices{{QStringLiteral("types"), keyboard}};
        QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
        // Version 2 can keep the user's answer: once ever, not once per run.
        const bool persists = version() >= 2;
        if (persists) {
            devices.insert(QStringLiteral("persist_mode"), untilRevoked);
            const QString restore = settings.value(restoreTokenKey).toString();
            if (!restore.isEmpty())
                devices.insert(QStringLiteral("restore_token"), restore);
        }
        const QVariant sessionPath = QVariant::fromValue(QDBusObjectPath(session));
        code = request(QStringLiteral("SelectDevices"), {sessionPath}, devices, results);
        if (code == granted)
            code = request(QStringLiteral("Start"), {sessionPath, QString()}, {}, results);
        if (code == granted && (results.value(QStringLiteral("devices")).toUInt() & keyboard) == 0)
            code = ended;
        if (code == granted && persists && results.contains(QStringLiteral("restore_token")))
            settings.setValue(restoreTokenKey, results.value(QStringLiteral("restore_token")));
    }
    if (code != granted || session.isEmpty()) {
        close();
        return code == cancelled || code == ended ? Start::Refused : Start::Failed;
    }
    // The first event of a new session can get lost while the desktop sets up its keyboard; a
    // lone Shift changes nothing in the window that has the focus, the program's own.
    if (!key(keyShiftL, true) || !key(keyShiftL, false)) {
        close();
        return Start::Failed;
    }
    pause.waitFor(nullptr, primeMs);
    return Start::Started;
}

bool PortalSession::key(quint32 keysym, bool pressed)
{
    return isStarted() &&
           bus.call(keyCall(session, keysym, pressed), QDBus::Block, callTimeoutMs).type() ==
               QDBusMessage::ReplyMessage;
}

void PortalSession::close()
{
    ++closings;
    if (session.isEmpty())
        return;
    bus.disconnect(service, session, sessionInterface, QStringLiteral("Closed"), this,
                   SLOT(onClosed()));
    bus.send(QDBusMessage::createMethodCall(service, session, sessionInterface,
                                            QStringLiteral("Close")));
    session.clear();
}

void PortalSession::onClosed()
{
    // The desktop ended it (the user stopped it there): the next typing opens a new one.
    bus.disconnect(service, session, sessionInterface, QStringLiteral("Closed"), this,
                   SLOT(onClosed()));
    session.clear();
}
