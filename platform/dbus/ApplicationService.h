#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

// org.freedesktop.Application for the session's first Varnisk, which owns the name
// org.nembrow.Varnisk: a later `varnisk FILE...` hands its files over with Open() (see
// handOver()) and ends, so that one process holds every window, one idle timer and one lock.
// Only file names come in, as file:// URIs. A caller on another display is refused, and so is
// one that comes after the last window closed: it starts a Varnisk of its own. The answer tells
// a caller nothing but that its request was taken.
class ApplicationService : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    // Local file names, in the caller's order; none: bring the front window forward.
    using Request = std::function<void(const QStringList& files)>;

    // Becomes an interface of `application`, shows it on the session bus, and claims the name.
    ApplicationService(Request request, QObject* application);
    ~ApplicationService() override;

    [[nodiscard]] bool ownsName() const { return owned; }
    // The last window closed: a later `varnisk` starts on its own, and requests already on
    // their way are refused.
    void releaseName();

    enum class HandOver
    {
        Done,       // the running Varnisk took the files
        NoInstance, // none runs, or there is no session bus
        Refused,    // one runs but did not take them (an error, no answer in 3 s, another display)
    };
    // What a later `varnisk` does before it has an application object: hands the files (names
    // as typed, resolved against this process's working folder) to the Varnisk that owns the
    // name, or asks it to show its front window when there are none.
    static HandOver handOver(const QStringList& names);

    // (The message of each call is its last argument, for the error reply.)
public slots:
    void Activate(const QVariantMap& platformData, const QDBusMessage& message);
    void Open(const QStringList& uris, const QVariantMap& platformData,
              const QDBusMessage& message);
    void ActivateAction(const QString& action, const QVariantList& parameter,
                        const QVariantMap& platformData, const QDBusMessage& message);

private:
    // Sends the error reply when it is not.
    bool acceptable(const QVariantMap& platformData, const QDBusMessage& message) const;

    Request request;
    bool owned = false;
    bool released = false;
};
