#include "PortalWindowSystem.h"

#include "SeatKeymap.h"
#include "platform/KeyTaps.h"
#include "securememory/SecureWipe.h"

#include <QGuiApplication>

#include <xkbcommon/xkbcommon.h>

namespace {

// Keysym values from X11/keysymdef.h.
constexpr quint32 keyTab = 0xff09;
constexpr quint32 keyAltL = 0xffe9;

bool ownWindowFocused()
{
    return QGuiApplication::focusWindow() != nullptr;
}

// How a message names a character that has no key: itself where it shows, else its code.
QString characterName(quint32 keysym)
{
    const char32_t codePoint = xkb_keysym_to_utf32(keysym);
    if (QChar::isPrint(codePoint) && !QChar::isSpace(codePoint))
        return QString::fromUcs4(&codePoint, 1);
    return QStringLiteral("U+%1")
        .arg(static_cast<uint>(codePoint), 4, 16, QLatin1Char('0'))
        .toUpper();
}

} // namespace

PortalWindowSystem::PortalWindowSystem() : session(pause) {}

PortalWindowSystem::~PortalWindowSystem()
{
    forgetFailure();
}

void PortalWindowSystem::forgetFailure()
{
    secureWipe(failure.characters);
    failure.reason = Refusal::None;
}

bool PortalWindowSystem::press(quint32 keysym)
{
    return session.key(keysym, true) && session.key(keysym, false);
}

bool PortalWindowSystem::switchWindow()
{
    return session.key(keyAltL, true) && press(keyTab) && session.key(keyAltL, false);
}

bool PortalWindowSystem::setForegroundWindow(Window window)
{
    forgetFailure();
    switched = false;
    if (window != previousWindow)
        return false;
    switch (session.start()) {
    case PortalSession::Start::Started:
        break;
    case PortalSession::Start::Refused:
        failure.reason = Refusal::DesktopRefused;
        return false;
    case PortalSession::Start::Failed:
        return false;
    }
    // The shortcut's key, held while the switch goes out, would make Alt+F8 of it; a Shift
    // still held would change every character.
    if (!pause.waitFor([this] { return !pause.keysHeld(); }, keyReleaseWaitMs))
        return false;
    // The desktop would type every letter in the other case.
    if (pause.capsLock()) {
        failure.reason = Refusal::CapsLock;
        return false;
    }
    if (!switchWindow())
        return false;
    // Still one of the program's windows: there was no other, or another of its own was the
    // one before.
    switched = pause.waitFor([] { return !ownWindowFocused(); }, focusWaitMs);
    if (!switched)
        failure.reason = Refusal::NoWindow;
    return switched;
}

void PortalWindowSystem::sleep(int milliseconds)
{
    pause.waitFor(nullptr, milliseconds);
}

int PortalWindowSystem::sendInput(const QVector<KeyRecord>& records)
{
    QVector<KeyTaps::Tap> taps;
    SeatKeymap keymap;
    if (!switched)
        return 0;
    if (!KeyTaps::fromRecords(records, true, taps) || !keymap.load()) {
        activateOwnWindow(previousWindow);
        return 0;
    }
    QVector<quint32> missing;
    for (KeyTaps::Tap& tap : taps) {
        const quint32 keysym = keymap.keysymFor(tap.keysym);
        if (keysym == 0 && !missing.contains(tap.keysym))
            missing << tap.keysym;
        tap.keysym = keysym;
    }
    if (!missing.isEmpty()) {
        failure.reason = Refusal::NotOnLayout;
        failure.characters.reserve(8 * missing.size());
        for (const quint32 keysym : qAsConst(missing)) {
            if (!failure.characters.isEmpty())
                failure.characters += QLatin1Char(' ');
            QString name = characterName(keysym);
            failure.characters += name;
            secureWipe(name);
        }
        missing.fill(0);
    }
    int delivered = 0;
    // The focus may have come back meanwhile: then the keys would land in the program itself.
    const bool ready = failure.reason == Refusal::None && !ownWindowFocused();
    if (ready) {
        for (const KeyTaps::Tap& tap : qAsConst(taps)) {
            if (!press(tap.keysym))
                break;
            delivered += tap.records;
        }
    }
    for (KeyTaps::Tap& tap : taps)
        tap = KeyTaps::Tap();
    // Nothing typed: the program comes back to say why, whichever key was to follow.
    if (!ready)
        activateOwnWindow(previousWindow);
    // What arrived of a text cut short cannot be vouched for.
    return delivered == records.size() ? delivered : 0;
}

bool PortalWindowSystem::activateOwnWindow(Window)
{
    if (!switched)
        return false;
    switched = false;
    // The same switch leads back; unless the program is back already.
    if (!ownWindowFocused() && switchWindow())
        pause.waitFor(ownWindowFocused, focusWaitMs);
    return true;
}

void PortalWindowSystem::restoreKeyboard()
{
    session.close();
    switched = false;
}
