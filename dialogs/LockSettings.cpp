#include "LockSettings.h"

#include <QSettings>

namespace {

const QString group = QStringLiteral("Lock");
const QString idleKey = QStringLiteral("idleSeconds");
const QString screenLockKey = QStringLiteral("onScreenLock");
const QString sleepKey = QStringLiteral("beforeSleep");
const QString minimizeKey = QStringLiteral("onMinimize");

} // namespace

LockSettings LockSettings::read()
{
    const LockSettings defaults;
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    settings.beginGroup(group);
    LockSettings read;
    // A week at most, so the time stays countable in milliseconds.
    read.idleSeconds =
        qBound(0, settings.value(idleKey, defaults.idleSeconds).toInt(), 7 * 24 * 60 * 60);
    read.onScreenLock = settings.value(screenLockKey, defaults.onScreenLock).toBool();
    read.beforeSleep = settings.value(sleepKey, defaults.beforeSleep).toBool();
    read.onMinimize = settings.value(minimizeKey, defaults.onMinimize).toBool();
    return read;
}

void LockSettings::write() const
{
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    settings.beginGroup(group);
    settings.setValue(idleKey, idleSeconds);
    settings.setValue(screenLockKey, onScreenLock);
    settings.setValue(sleepKey, beforeSleep);
    settings.setValue(minimizeKey, onMinimize);
}
