#include "SecureLineEdit.h"

#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>

#include <openssl/crypto.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

static_assert(isUncopyable<SecureLineEdit>);

namespace {

// Writes the UTF-8 form of `codePoint` to `out` (room for 4 bytes); returns its length.
int encodeUtf8(char32_t codePoint, char* out)
{
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

// The length of the UTF-8 sequence that starts with `lead`; a stray byte counts as one.
std::size_t sequenceLength(char lead)
{
    const auto byte = static_cast<unsigned char>(lead);
    if (byte >= 0xF0)
        return 4;
    if (byte >= 0xE0)
        return 3;
    if (byte >= 0xC0)
        return 2;
    return 1;
}

} // namespace

SecureLineEdit::SecureLineEdit(SecureStringHolder* secret, QWidget* parent)
    : QLineEdit(parent), holder(secret)
{
    setAcceptDrops(false);
    setEchoMode(QLineEdit::Password);
    // Any change of the text that did not come through the key handling (a caller's setText or
    // clear, say) leaves the secret describing other characters: wipe it rather than keep a
    // secret that no longer matches what the user sees.
    connect(this, &QLineEdit::textChanged, this, [this]() {
        if (!editing)
            textChangedElsewhere();
    });
}

SecureLineEdit::~SecureLineEdit() = default;

void SecureLineEdit::wipe()
{
    const QScopedValueRollback<bool> guard(editing, true);
    QLineEdit::clear();
    secureClear(holder->string());
    OPENSSL_cleanse(byteLengths.data(), byteLengths.size());
    byteLengths.clear();
}

void SecureLineEdit::setSecret(const SecureString& secret)
{
    wipe();
    QString letters;
    for (std::size_t offset = 0; offset < secret.size();) {
        const std::size_t length = std::min(sequenceLength(secret[offset]), secret.size() - offset);
        byteLengths.push_back(static_cast<unsigned char>(length));
        letters += QLatin1Char(substituteLetter());
        offset += length;
    }
    holder->string().assign(secret.data(), secret.size());
    const QScopedValueRollback<bool> guard(editing, true);
    QLineEdit::setText(letters);
}

void SecureLineEdit::mousePressEvent(QMouseEvent* event)
{
    // The middle button pastes the primary selection on X11; it has no business here.
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    keepTextWhile([this, event]() { QLineEdit::mousePressEvent(event); });
}

void SecureLineEdit::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    keepTextWhile([this, event]() { QLineEdit::mouseReleaseEvent(event); });
    // A selection made by dragging or double-clicking would let the next key replace a range.
    deselect();
}

void SecureLineEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A double click selects a word, which must not outlive the click.
    keepTextWhile([this, event]() { QLineEdit::mouseDoubleClickEvent(event); });
    deselect();
}

void SecureLineEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // Tabbing into a line edit selects all of it.
    deselect();
}

void SecureLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (!inStep())
        wipe();
    // Select all is the one selection kept: the next typed text or erase replaces all of it.
    const bool replaceAll = allSelected();
    deselect();
    if (event->matches(QKeySequence::SelectAll)) {
        event->accept();
        selectAll();
        return;
    }
    const int cursor = cursorPosition();

    // Clipboard, undo and word-wise editing all live on these modifiers, and the
    // remaining editing bindings (Shift+Insert, Shift+Delete, the Paste and Cut keys) are
    // caught by name: none of them may reach the base, which would edit behind our back.
    if ((event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0 ||
        isEditingShortcut(event)) {
        event->accept();
        return;
    }

    if (replaceAll && (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)) {
        event->accept();
        wipe();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Backspace:
        event->accept();
        if (cursor > 0)
            eraseCharacter(cursor - 1, true);
        return;
    case Qt::Key_Delete:
        event->accept();
        if (cursor < static_cast<int>(byteLengths.size()))
            eraseCharacter(cursor, false);
        return;
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The base ignores these, so they go on to the dialog (reject, default button).
        keepTextWhile([this, event]() { QLineEdit::keyPressEvent(event); });
        return;
    default:
        break;
    }

    if (event->text().isEmpty()) {
        // Cursor movement and other keys without text; Shift+movement would leave a selection.
        keepTextWhile([this, event]() { QLineEdit::keyPressEvent(event); });
        deselect();
        return;
    }

    event->accept();
    if (replaceAll)
        wipe();
    insertText(event->text());
}

void SecureLineEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // Composed text (dead keys, input methods) counts as typed once it is committed. The
    // preedit is never shown, since the base would put it into the widget's text, and a
    // replacement of text around the cursor is refused like any other range edit.
    event->accept();
    if (!inStep() || (allSelected() && !event->commitString().isEmpty()))
        wipe();
    deselect();
    if (!event->commitString().isEmpty())
        insertText(event->commitString());
}

void SecureLineEdit::contextMenuEvent(QContextMenuEvent* event)
{
    // Its Paste, Undo and Delete entries would change the text without the secret.
    event->accept();
}

void SecureLineEdit::dragEnterEvent(QDragEnterEvent* event)
{
    event->ignore();
}

void SecureLineEdit::dragMoveEvent(QDragMoveEvent* event)
{
    event->ignore();
}

void SecureLineEdit::dropEvent(QDropEvent* event)
{
    event->ignore();
}

bool SecureLineEdit::isEditingShortcut(const QKeyEvent* event)
{
    static const QKeySequence::StandardKey bindings[] = {
        QKeySequence::Paste,
        QKeySequence::Cut,
        QKeySequence::Copy,
        QKeySequence::Undo,
        QKeySequence::Redo,
        QKeySequence::DeleteEndOfLine,
        QKeySequence::DeleteStartOfWord,
        QKeySequence::DeleteEndOfWord,
        QKeySequence::DeleteCompleteLine,
    };
    return std::any_of(std::begin(bindings), std::end(bindings),
                       [event](QKeySequence::StandardKey key) { return event->matches(key); });
}

char SecureLineEdit::substituteLetter()
{
    // The letters only fill the widget's text; they need no cryptographic quality. The
    // formula maps 15 bits of rand() onto 'a'..'z' as evenly as 32768 values allow.
    const int r = std::rand() % 32768;
    return static_cast<char>(97 - std::trunc(r * (-1.0 / 32768) * 26.0));
}

bool SecureLineEdit::inStep() const
{
    return text().size() == static_cast<int>(byteLengths.size()) &&
           byteOffset(static_cast<int>(byteLengths.size())) == holder->string().size();
}

bool SecureLineEdit::allSelected() const
{
    return hasSelectedText() && selectedText().size() == text().size();
}

std::size_t SecureLineEdit::byteOffset(int characters) const
{
    const auto count =
        std::min<std::size_t>(static_cast<std::size_t>(characters), byteLengths.size());
    return std::accumulate(byteLengths.begin(), byteLengths.begin() + count, std::size_t{0});
}

void SecureLineEdit::insertText(const QString& text)
{
    // One substitute letter per code point, so that an erase always takes a whole character.
    // A lone surrogate is no character and is dropped; a zero ends the text.
    for (int i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        char32_t codePoint = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1));
            ++i;
        } else if (unit.isSurrogate()) {
            continue;
        }
        if (codePoint == 0 || !insertCodePoint(codePoint))
            return;
    }
}

bool SecureLineEdit::insertCodePoint(char32_t codePoint)
{
    const int cursor = cursorPosition();
    const std::size_t offset = byteOffset(cursor);
    char bytes[4];
    const int length = encodeUtf8(codePoint, bytes);

    SecureString& secret = holder->string();
    secureReserve(secret, secret.size() + static_cast<std::size_t>(length));
    secret.insert(offset, bytes, static_cast<std::size_t>(length));
    OPENSSL_cleanse(bytes, sizeof bytes);
    byteLengths.insert(byteLengths.begin() + cursor, static_cast<unsigned char>(length));

    const int before = text().size();
    {
        const QScopedValueRollback<bool> guard(editing, true);
        QLineEdit::insert(QString(QChar(substituteLetter())));
    }
    if (text().size() == before + 1)
        return true;

    // The widget took no letter (its maximum length, say): take the bytes back out again.
    byteLengths.erase(byteLengths.begin() + cursor);
    removeBytes(offset, static_cast<std::size_t>(length));
    return false;
}

void SecureLineEdit::eraseCharacter(int index, bool before)
{
    if (index < 0 || index >= static_cast<int>(byteLengths.size()))
        return;
    SecureString& secret = holder->string();
    const std::size_t offset = byteOffset(index);
    const std::size_t length = byteLengths[static_cast<std::size_t>(index)];
    if (offset + length > secret.size())
        return;

    const int oldSize = text().size();
    {
        const QScopedValueRollback<bool> guard(editing, true);
        if (before)
            QLineEdit::backspace();
        else
            QLineEdit::del();
    }
    if (text().size() != oldSize - 1)
        return;

    byteLengths.erase(byteLengths.begin() + index);
    removeBytes(offset, length);
}

void SecureLineEdit::removeBytes(std::size_t offset, std::size_t length)
{
    // Like erase, but the bytes that the shift leaves behind the new end are wiped first.
    SecureString& secret = holder->string();
    std::copy(secret.begin() + static_cast<std::ptrdiff_t>(offset + length), secret.end(),
              secret.begin() + static_cast<std::ptrdiff_t>(offset));
    OPENSSL_cleanse(&secret[secret.size() - length], length);
    secret.resize(secret.size() - length);
}

void SecureLineEdit::keepTextWhile(const std::function<void()>& baseHandling)
{
    const QString before = text();
    const int cursor = cursorPosition();
    const QScopedValueRollback<bool> guard(editing, true);
    baseHandling();
    if (text() != before) {
        // A binding of the base that edits without us: undo it.
        setText(before);
        setCursorPosition(cursor);
    }
}

void SecureLineEdit::textChangedElsewhere()
{
    secureClear(holder->string());
    OPENSSL_cleanse(byteLengths.data(), byteLengths.size());
    byteLengths.clear();
}
