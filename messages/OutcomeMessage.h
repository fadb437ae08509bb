#pragma once

#include "encryption/Result.h"

#include <QString>

// The user's words for how file work ended, the one place for them: one wording for the editor and
// for varnisk-cli. The texts are translated in the main window's context, "Varnisk", which the
// editor's own messages share.
class OutcomeMessage
{
public:
    enum class Operation
    {
        Encrypt, // Save, Save As, Encrypt File; varnisk-cli encrypt and new
        Decrypt, // Open, Decrypt File (data and image); varnisk-cli decrypt and show
    };

    // The message for a failure; empty for a success, which each caller words itself, and for
    // a cancel, which the user asked for and is told nothing about.
    static QString text(const Result& result, Operation operation);
    // The two entries of a new password differ.
    static QString passwordsDiffer();
    // The notice that memory for secrets cannot be locked (LockedMemory::lockingFailed()).
    static QString memoryNotLocked();
};
