#include "LockController.h"

#include "Varnisk.h"
#include "platform/dbus/LockService.h"
#include "platform/dbus/SessionLockEvents.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

#include <utility>

namespace {

// One per application object, as its child.
QPointer<LockController>& theController()
{
    static QPointer<LockController> controller;
    return controller;
}

} // namespace

LockController& LockController::instance()
{
    if (theController() == nullptr)
        theController() = new LockController(qApp);
    return *theController();
}

LockController* LockController::existing()
{
    return theController();
}

LockController::LockController(QObject* parent)
    : QObject(parent), lockSettings(LockSettings::read()), desktop(new SessionLockEvents(this)),
      // An interface of the application object, which outlives this controller.
      service(new LockService(
          [controller = QPointer<LockController>(this)]() {
              return controller != nullptr && controller->lockAll();
          },
          parent))
{
    idleTimer.setSingleShot(true);
    connect(&idleTimer, &QTimer::timeout, this, &LockController::idleTimeout);
    connect(desktop, &SessionLockEvents::screenLocked, this, &LockController::screenLocked);
    connect(desktop, &SessionLockEvents::sleepComing, this, &LockController::sleepComing);
    connect(desktop, &SessionLockEvents::sleepEnded, this, &LockController::sleepEnded);
    qApp->installEventFilter(this);
    noteInput();
}

void LockController::add(Varnisk* window)
{
    windows << window;
    updateSleepDelay();
}

void LockController::remove(Varnisk* window)
{
    windows.removeAll(window);
    updateSleepDelay();
}

void LockController::lockStateChanged()
{
    updateSleepDelay();
}

void LockController::reloadSettings()
{
    lockSettings = LockSettings::read();
    idleTimer.stop();
    noteInput();
    updateSleepDelay();
}

bool LockController::lockAll()
{
    bool all = true;
    for (Varnisk* window : QList<Varnisk*>(windows))
        all = window->lock() && all;
    return all;
}

bool LockController::isLockKey(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    return key->key() == Qt::Key_L &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

bool LockController::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        // In a window, Ctrl+L is its Lock action's shortcut and never arrives here as a key; it
        // does in a dialog, which blocks the window's shortcuts.
        if (isLockKey(event) && watched->isWidgetType()) {
            if (Varnisk* owner = ownerOf(static_cast<QWidget*>(watched)))
                owner->lock();
            else
                lockAll();
            return true;
        }
        noteInput();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        noteInput();
        break;
    default:
        break;
    }
    return false;
}

Varnisk* LockController::ownerOf(QWidget* widget) const
{
    for (QWidget* window = widget->window(); window != nullptr;
         window = window->parentWidget() ? window->parentWidget()->window() : nullptr) {
        if (auto* editor = qobject_cast<Varnisk*>(window))
            return editor;
    }
    return nullptr;
}

void LockController::noteInput()
{
    sinceInput.restart();
    if (lockSettings.idleSeconds > 0 && !idleTimer.isActive())
        idleTimer.start(lockSettings.idleSeconds * 1000);
}

void LockController::idleTimeout()
{
    if (lockSettings.idleSeconds <= 0)
        return;
    // The timer runs from the first input after the last timeout; later input moves the end.
    const qint64 remaining = qint64(lockSettings.idleSeconds) * 1000 - sinceInput.elapsed();
    if (remaining > 0)
        idleTimer.start(static_cast<int>(remaining));
    else
        lockAll();
}

void LockController::screenLocked()
{
    if (lockSettings.onScreenLock)
        lockAll();
}

void LockController::sleepComing()
{
    sleeping = true;
    if (lockSettings.beforeSleep)
        lockAll();
    // Released even if a window could not be locked: holding it longer only delays the sleep.
    updateSleepDelay();
}

void LockController::sleepEnded()
{
    sleeping = false;
    updateSleepDelay();
}

void LockController::updateSleepDelay()
{
    bool anyUnlocked = false;
    for (const Varnisk* window : std::as_const(windows))
        anyUnlocked = anyUnlocked || !window->isLocked();
    desktop->holdSleepDelay(lockSettings.beforeSleep && anyUnlocked && !sleeping);
}
