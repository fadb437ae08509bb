#pragma once

#include "securememory/SecureAllocator.h"
#include "securememory/SecureString.h"

#include <QLineEdit>

#include <functional>
#include <vector>

class SecureStringHolder;

// The one-line field every password is typed into. Typed characters never enter the widget's
// text: their UTF-8 bytes go into the holder's SecureString, and the widget gets one random
// letter per character instead, shown masked. Every way of editing the widget that would bypass
// that bookkeeping (clipboard, undo, context menu, drops, selections, input-method preedit) is
// shut, so the field and the secret always describe the same characters. The one selection
// kept is select all (Ctrl+A), which the next typed or erasing key replaces as a whole.
class SecureLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    SecureLineEdit(SecureStringHolder* holder, QWidget* parent);
    ~SecureLineEdit() override;

    // Empties the field, wipes the secret behind it and forgets the character bookkeeping.
    void wipe();
    // Replaces the field's content with `secret` (UTF-8), as if it had been typed.
    void setSecret(const SecureString& secret);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    static bool isEditingShortcut(const QKeyEvent* event);
    static char substituteLetter();

    bool inStep() const;
    bool allSelected() const;
    std::size_t byteOffset(int characters) const;
    void insertText(const QString& text);
    bool insertCodePoint(char32_t codePoint);
    void eraseCharacter(int index, bool before);
    void removeBytes(std::size_t offset, std::size_t length);
    void keepTextWhile(const std::function<void()>& baseHandling);
    void textChangedElsewhere();

    SecureStringHolder* const holder;
    // UTF-8 length of each character of the secret, in order: the widget holds one letter per
    // entry, so a cursor position counts entries and maps to a byte offset in the secret.
    std::vector<unsigned char, SecureAllocator<unsigned char>> byteLengths;
    // Set while this class itself changes the widget's text.
    bool editing = false;
};
