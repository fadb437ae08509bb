#include "SecureStringHolder.h"

#include <new>

#include <openssl/crypto.h>

void secureClear(SecureString& string) noexcept
{
    if (!string.empty())
        OPENSSL_cleanse(&string[0], string.size());
    string.clear();
}

SecureStringHolder::SecureStringHolder()
    : lockedMemory(LockedMemory::allocate(sizeof(SecureString))),
      secureString(new (lockedMemory) SecureString())
{}

SecureStringHolder::~SecureStringHolder()
{
    secureClear(*secureString);
    // The allocator wipes a heap buffer as the destructor hands it back; the inline bytes and
    // the length and capacity fields are wiped with the region.
    secureString->~SecureString();
    LockedMemory::release(lockedMemory, sizeof(SecureString));
}
