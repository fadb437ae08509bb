#include "SessionObject.h"

#include <QCoreApplication>
#include <QDBusConnection>

const QString SessionObject::path = QStringLiteral("/org/nembrow/Varnisk");
const QString SessionObject::wellKnownName = QStringLiteral("org.nembrow.Varnisk");

bool SessionObject::show(QDBusConnection& bus)
{
    QObject* application = QCoreApplication::instance();
    // Adaptors added later are found when a call comes.
    return bus.objectRegisteredAt(path) == application ||
           bus.registerObject(path, application, QDBusConnection::ExportAdaptors);
}
