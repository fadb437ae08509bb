#include "StreamKey.h"

#include "securememory/LockedMemory.h"
#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QtGlobal>

#include <climits>
#include <cstring>
#include <stdexcept>

#include <openssl/evp.h>

static_assert(isUncopyable<StreamKey>);

namespace {

// Versions 4 and 5: PBKDF2-HMAC-SHA1 over 1,000 iterations.
constexpr int pbkdf2Iterations = 1000;
constexpr int materialSize = StreamKey::keySize + StreamKey::ivSize;

bool derivesAlike(const StreamHeader& first, const StreamHeader& second)
{
    if (first.derivation() != second.derivation() ||
        std::memcmp(first.salt(), second.salt(), StreamHeader::saltSize) != 0)
        return false;
    if (first.derivation() == KeyDerivation::Pbkdf2)
        return true;
    const Argon2id::Costs& a = first.costs();
    const Argon2id::Costs& b = second.costs();
    return a.memoryKiB == b.memoryKiB && a.passes == b.passes && a.lanes == b.lanes;
}

} // namespace

StreamKey::StreamKey(const SecureStringHolder& streamPassword) : password(streamPassword) {}

StreamKey::~StreamKey()
{
    LockedMemory::release(bytes, materialSize);
}

void StreamKey::derive(const StreamHeader& header)
{
    if (held && derivesAlike(header, heldFor))
        return;
    held = false;
    if (bytes == nullptr)
        bytes = static_cast<unsigned char*>(LockedMemory::allocate(materialSize));
    const SecureString& secret = password.string();
    if (header.derivation() == KeyDerivation::Argon2id) {
        Argon2id::derive(secret.data(), secret.size(), header.salt(), StreamHeader::saltSize,
                         header.costs(), bytes, materialSize);
    } else if (secret.size() > static_cast<std::size_t>(INT_MAX) ||
               PKCS5_PBKDF2_HMAC_SHA1(secret.data(), static_cast<int>(secret.size()), header.salt(),
                                      StreamHeader::saltSize, pbkdf2Iterations, materialSize,
                                      bytes) == 0) {
        throw std::runtime_error(
            QT_TRANSLATE_NOOP("EncryptedStream", "error setting up cipher parameters"));
    }
    held = true;
    heldFor = header;
}
