// Type Selection (typing the editor's selection into the window behind) and selection
// snapping (a selection inside a token grows to the whole token).
#include "Varnisk.h"

#include "dialogs/MessageBoxes.h"
#include "platform/WindowSystem.h"
#include "securememory/SecureWipe.h"
#include "ui_VarniskClass.h"

#include <QMessageBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr int focusWaitMs = 250;

// A text that names characters of the secret: the only ones the layout lacks, which the user
// needs to know.
QString typingFailure(const WindowSystem::Refusal& refusal)
{
    switch (refusal.reason) {
    case WindowSystem::Refusal::NoWindow:
        return Varnisk::tr("No Window found for typing!");
    case WindowSystem::Refusal::DesktopRefused:
        return Varnisk::tr("The desktop did not allow Varnisk to type.");
    case WindowSystem::Refusal::NotOnLayout:
        return Varnisk::tr("Error typing!") + QLatin1Char('\n') +
               Varnisk::tr("The keyboard layout has no key for: %1").arg(refusal.characters);
    case WindowSystem::Refusal::CapsLock:
        return Varnisk::tr("Error typing!") + QLatin1Char('\n') + Varnisk::tr("Caps Lock is on.");
    case WindowSystem::Refusal::None:
        break;
    }
    return Varnisk::tr("Error typing!");
}

} // namespace

void Varnisk::setWindowSystem(std::shared_ptr<WindowSystem> system)
{
    windowSystem = std::move(system);
}

void Varnisk::aTypeSelection()
{
    typeSelection(NoKey);
}

void Varnisk::aTypeSelectionTab()
{
    typeSelection(TabKey);
}

void Varnisk::aTypeSelectionEnter()
{
    typeSelection(EnterKey);
}

void Varnisk::typeSelection(TypeSelectionKey key)
{
    QString text = ui->seTextEdit->textCursor().selectedText();
    if (text.isEmpty()) {
        MessageBoxes::information(this, tr("No Text selected!"));
        return;
    }

    WindowSystem::Window target = windowSystem->nextWindow(winId());
    for (auto parent = target; parent != 0; parent = windowSystem->parentWindow(parent))
        target = parent;
    if (target == 0 || !windowSystem->isWindowVisible(target)) {
        secureWipe(text);
        MessageBoxes::critical(this, tr("No Window found for typing!"));
        return;
    }

    windowSystem->showWindow(target);
    windowSystem->setForegroundWindow(target);
    windowSystem->sleep(focusWaitMs);

    using Record = WindowSystem::KeyRecord;
    const int trailing = key == NoKey ? 0 : 1;
    QVector<Record> records;
    records.reserve(2 * (text.size() + trailing));
    for (const QChar unit : qAsConst(text)) {
        Record down;
        down.unit = unit.unicode();
        down.extraInfo = windowSystem->messageExtraInfo();
        Record up = down;
        up.keyUp = true;
        records << down << up;
    }
    if (trailing != 0) {
        Record down;
        down.key = key == TabKey ? Record::Tab : Record::Return;
        down.extraInfo = windowSystem->messageExtraInfo();
        Record up = down;
        up.keyUp = true;
        records << down << up;
    }

    const int sent = windowSystem->sendInput(records);
    // The records and the text are the secret itself.
    records.fill(Record());
    secureWipe(text);
    if (sent != records.size()) {
        WindowSystem::Refusal refusal = windowSystem->refusal();
        const QString message = typingFailure(refusal);
        secureWipe(refusal.characters);
        MessageBoxes::critical(this, message);
    }

    if (trailing != 0) {
        windowSystem->sleep(focusWaitMs);
        // On Wayland only the compositor may hand the focus back.
        if (!windowSystem->activateOwnWindow(winId()))
            activateWindow();
    }
}

void Varnisk::textSelectionChanged()
{
    if (ignoreSelectionChange) {
        ignoreSelectionChange = false;
        return;
    }
    if (selectingMatch)
        return;
    QTextCursor cursor = ui->seTextEdit->textCursor();
    if (!cursor.hasSelection())
        return;

    // Characters are read through the document: a copy of the whole text per notification
    // would make every step of a mouse drag cost the document's size.
    const QTextDocument* textDocument = ui->seTextEdit->document();
    int start = cursor.selectionStart();
    int end = cursor.selectionEnd();
    // A selection over a line break holds a paragraph separator, which is whitespace.
    if (textDocument->findBlock(start) != textDocument->findBlock(end))
        return;
    for (int i = start; i < end; ++i) {
        if (textDocument->characterAt(i).isSpace())
            return;
    }

    const int length = textDocument->characterCount() - 1; // without the final separator
    while (start > 0 && !textDocument->characterAt(start - 1).isSpace())
        --start;
    while (end < length && !textDocument->characterAt(end).isSpace())
        ++end;

    if (cursor.anchor() == start && cursor.position() == end)
        return;
    // The editor reports a re-selection only if it differs from the selection it reported
    // last, which during this notification is still the one before the user's change. So the
    // notification may not come, and the flag is cleared here rather than left to swallow the
    // user's next change; the editor notifies synchronously, inside setTextCursor().
    ignoreSelectionChange = true;
    cursor.setPosition(start, QTextCursor::MoveAnchor);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    ui->seTextEdit->setTextCursor(cursor);
    ignoreSelectionChange = false;
}
