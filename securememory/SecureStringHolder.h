#pragma once

#include "SecureString.h"

// Owns one locked region that holds a SecureString object. The region (and any heap buffer the
// string grew into) is wiped, unlocked and unmapped when the holder goes away.
class SecureStringHolder
{
public:
    SecureStringHolder();
    ~SecureStringHolder();
    SecureStringHolder(const SecureStringHolder&) = delete;
    SecureStringHolder& operator=(const SecureStringHolder&) = delete;

    SecureString& string() { return *secureString; }
    const SecureString& string() const { return *secureString; }
    const void* region() const { return lockedMemory; }

private:
    void* lockedMemory;
    SecureString* secureString;
};
