#include "SecureStringHolder.h"

#include "SecureWipe.h"

#include <algorithm>
#include <new>

#include <openssl/crypto.h>

static_assert(isUncopyable<SecureStringHolder>);

void secureClear(SecureString& string) noexcept
{
    OPENSSL_cleanse(string.data(), string.capacity());
    // The allocator wipes a heap buffer as the destructor hands it back; then the object itself.
    string.~SecureString();
    OPENSSL_cleanse(static_cast<void*>(&string), sizeof string);
    new (&string) SecureString();
}

void secureReserve(SecureString& string, std::size_t size)
{
    if (size <= string.capacity())
        return;
    SecureString grown;
    grown.reserve(std::max(size, 2 * string.capacity()));
    grown.assign(string.data(), string.size());
    secureClear(string);
    string.swap(grown);
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
    secureString->~SecureString();
    LockedMemory::release(lockedMemory, sizeof(SecureString));
}
