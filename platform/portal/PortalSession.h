#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class TypingPause;

// A session of the desktop's RemoteDesktop portal that presses keys, on a bus connection of the
// program's own. The portal looks at a caller once, on the first call of its connection, and
// refuses one that it cannot inspect any more (a process that made itself non-dumpable):
// connectEarly() makes that first call in main(), before the program protects itself and before
// any secret exists, and the connection then stays open for the program's life. A session lives
// until close() or until the desktop ends it; starting one makes the desktop ask the user (where
// the portal can keep the answer, once ever: the token it gives for that is kept in the
// settings).
class PortalSession final : public QObject
{
    Q_OBJECT

public:
    enum class Start
    {
        Started,
        Refused, // the user, or the desktop, said no
        Failed   // no portal, no answer, or the session was closed meanwhile
    };

    // Waits for the desktop's answers in `pause`.
    explicit PortalSession(TypingPause& pause);
    ~PortalSession() override;
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    // Opens the connection and makes the portal look at the process while it still can.
    static void connectEarly();

    // Opens and starts a session that may press keys, unless one is running.
    [[nodiscard]] Start start();
    [[nodiscard]] bool isStarted() const { return !session.isEmpty(); }
    // Presses or releases the key of `keysym`; false when the desktop did not take it.
    [[nodiscard]] bool key(quint32 keysym, bool pressed);
    // Ends the session; also a start() waiting for the desktop.
    void close();

    // Longest wait for the user to answer the desktop's question.
    static constexpr int answerTimeoutMs = 120000;

private slots:
    void onResponse(uint code, const QVariantMap& results);
    void onClosed();

private:
    uint request(const QString& method, QVariantList arguments, QVariantMap options,
                 QVariantMap& results);
    uint version();

    TypingPause& pause;
    QDBusConnection bus;
    QString session;  // the session's object path while one runs
    int tokens = 0;   // requests made
    int sessions = 0; // sessions opened
    bool answered = false;
    uint answer = 0;
    QVariantMap answerResults;
    int closings = 0; // close() calls, so that a wait learns of one
};
