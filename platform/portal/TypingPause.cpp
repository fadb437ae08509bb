#include "TypingPause.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>

namespace {

constexpr int pollMs = 10;
// Lock, the second modifier of X11's and every XKB keymap, in a key event's native modifiers.
constexpr quint32 lockModifier = 0x2;

} // namespace

TypingPause::TypingPause()
{
    QCoreApplication::instance()->installEventFilter(this);
}

TypingPause::~TypingPause()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

bool TypingPause::waitFor(const std::function<bool()>& done, int milliseconds)
{
    const QDeadlineTimer deadline(qMax(0, milliseconds));
    const auto finished = [&] { return (done && done()) || deadline.hasExpired(); };
    if (!finished()) {
        ++waiting;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (finished())
                loop.quit();
        });
        poll.start(pollMs);
        loop.exec();
        --waiting;
    }
    return done && done();
}

bool TypingPause::keysHeld() const
{
    return !held.isEmpty() || QGuiApplication::queryKeyboardModifiers() != Qt::NoModifier;
}

bool TypingPause::eventFilter(QObject* /*watched*/, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        locked = (key->nativeModifiers() & lockModifier) != 0;
        // A shortcut's key comes as the shortcut override; its release as a plain release.
        if (!key->isAutoRepeat()) {
            const quint32 id = key->nativeScanCode() != 0 ? key->nativeScanCode()
                                                          : static_cast<quint32>(key->key());
            if (event->type() == QEvent::KeyRelease)
                held.remove(id);
            else
                held.insert(id);
        }
        // An accepted override keeps the shortcut from firing; the press then goes nowhere.
        if (waiting > 0 && event->type() == QEvent::ShortcutOverride)
            event->accept();
        return waiting > 0;
    }
    case QEvent::ApplicationDeactivate:
        // The releases go to the window that has the focus now.
        held.clear();
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return waiting > 0;
    default:
        return false;
    }
}
