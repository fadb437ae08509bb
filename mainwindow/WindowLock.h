#pragma once

#include "encryption/Result.h"
#include "encryption/SealedText.h"
#include "securememory/SecureStringHolder.h"

class QPlainTextEdit;
class QWidget;

// What a locked window keeps of its document: the text sealed in memory, byte for byte as a Save
// would write it (so closing while locked can write this image), and where the user was in it.
// Sealing empties the editor and its undo history; the modified state stays with the emptied
// editor's document. Unsealing brings back the text, the cursor and the scroll position, but not
// the undo history.
class WindowLock
{
public:
    [[nodiscard]] bool isLocked() const { return locked; }
    // Seals the editor's text under `password` in the document's format (`derivation`), or
    // under a random key of its own (null: a document that has no password yet), and empties the
    // editor. Nothing changes on a failure.
    Result seal(QPlainTextEdit& editor, const SecureStringHolder* password,
                KeyDerivation derivation = KeyDerivation::Pbkdf2);
    // Unseals with `password` (null for a text sealed under its own key) and puts the text back
    // where it was. Every failure to decrypt is a wrong password; a text too large for the editor
    // to hold stays sealed (OutOfMemory).
    Result unseal(QPlainTextEdit& editor, const SecureStringHolder* password);

    [[nodiscard]] const SealedText& sealed() const { return sealedText; }
    // Where the lock page's field puts the password typed to unlock.
    [[nodiscard]] SecureStringHolder& password() { return unlockPassword; }

    // Closes every window of ours over `window` (its dialogs and message boxes), each through its
    // Cancel path so that whoever waits on it goes on as after a Cancel; `except` stays.
    static void closeDialogsOver(QWidget* window, const QWidget* except);

private:
    bool locked = false;
    SealedText sealedText;
    int anchor = 0;
    int position = 0;
    int verticalScroll = 0;
    int horizontalScroll = 0;
    SecureStringHolder unlockPassword;
};
