#pragma once

#include "CryptoFile.h"

#include <QString>

// The user's words for the outcome of a file operation: one wording for the editor and for
// varnisk-cli. The texts are translated in the main window's context, "Varnisk".
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
    static QString text(const CryptoFile::Result& result, Operation operation);
    // The notice that memory for secrets cannot be locked (LockedMemory::lockingFailed()).
    static QString memoryNotLocked();
};
