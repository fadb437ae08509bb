#include "SecureStringHolder.h"

#include "SecureWipe.h"

#include <new>

#include <openssl/crypto.h>

static_assert(isUncopyable<SecureStringHolder>);

void secureClear(SecureString& string) noexcept
{
    if (!string.empty())
        OPENSSL_cleanse(&string[0], string.size());
    string.clear();
}

bool secureEqual(const SecureString& first, const SecureString& second) noexcept
{
    return first.size() == second.size() &&
           CRYPTO_memcmp(first.data(), second.data(), first.size()) == 0;
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
