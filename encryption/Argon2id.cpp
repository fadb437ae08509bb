#include "Argon2id.h"

#include <QtGlobal>

#include <new>
#include <stdexcept>

#include <argon2.h>
#include <openssl/crypto.h>
#include <sys/mman.h>

namespace {

// The work memory, hundreds of MiB filled from the password: a mapping of its own rather than
// the heap, which would wipe it once more on free, and kept out of core dumps.
int allocateWorkMemory(uint8_t** memory, size_t size)
{
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        *memory = nullptr;
        return ARGON2_MEMORY_ALLOCATION_ERROR;
    }
    madvise(mapped, size, MADV_DONTDUMP);
    *memory = static_cast<uint8_t*>(mapped);
    return ARGON2_OK;
}

void releaseWorkMemory(uint8_t* memory, size_t size)
{
    // The library wipes it too, but whether it does is a switch of its own; this costs a few
    // per cent of the derivation.
    OPENSSL_cleanse(memory, size);
    munmap(memory, size);
}

} // namespace

bool Argon2id::acceptable(const Costs& costs)
{
    return costs.lanes >= 1 && costs.lanes <= maxLanes && costs.passes >= 1 &&
           costs.passes <= maxPasses && costs.memoryKiB <= maxMemoryKiB &&
           costs.memoryKiB >= minMemoryKiBPerLane * costs.lanes;
}

void Argon2id::derive(const void* password, std::size_t passwordSize, const unsigned char* salt,
                      std::size_t saltSize, const Costs& costs, unsigned char* out,
                      std::size_t outSize)
{
    constexpr auto fieldLimit = std::size_t{0xffffffffu};
    if (!acceptable(costs) || passwordSize > fieldLimit || saltSize > fieldLimit ||
        outSize > fieldLimit)
        throw std::runtime_error(
            QT_TRANSLATE_NOOP("EncryptedStream", "error setting up cipher parameters"));
    argon2_context context = {};
    context.out = out;
    context.outlen = static_cast<uint32_t>(outSize);
    // The library only reads them; its flags are left at 0, so it does not wipe our password.
    context.pwd = static_cast<uint8_t*>(const_cast<void*>(password));
    context.pwdlen = static_cast<uint32_t>(passwordSize);
    context.salt = const_cast<uint8_t*>(salt);
    context.saltlen = static_cast<uint32_t>(saltSize);
    context.t_cost = costs.passes;
    context.m_cost = costs.memoryKiB;
    context.lanes = costs.lanes;
    context.threads = costs.lanes;
    context.version = ARGON2_VERSION_13;
    context.allocate_cbk = allocateWorkMemory;
    context.free_cbk = releaseWorkMemory;
    const int status = argon2_ctx(&context, Argon2_id);
    if (status == ARGON2_MEMORY_ALLOCATION_ERROR)
        throw std::bad_alloc();
    if (status != ARGON2_OK)
        throw std::runtime_error(
            QT_TRANSLATE_NOOP("EncryptedStream", "error setting up cipher parameters"));
}
