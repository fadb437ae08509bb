#pragma once

#include <QtGlobal>

#include <cstddef>

#ifndef VARNISK_ARGON2_MAX_MEMORY_KIB
#define VARNISK_ARGON2_MAX_MEMORY_KIB 1048576
#endif
#ifndef VARNISK_ARGON2_MAX_PASSES
#define VARNISK_ARGON2_MAX_PASSES 32
#endif

// The key derivation of format version 6: Argon2id, version 1.3, through the reference library
// (libargon2), with no secret and no associated data. Its work memory depends on the password;
// it is mapped apart from the heap, left out of core dumps and wiped before it is unmapped. It
// cannot be locked: the usual `ulimit -l` of 8 MiB holds a small part of it.
class Argon2id
{
public:
    struct Costs
    {
        quint32 memoryKiB = 0;
        quint32 passes = 0;
        quint32 lanes = 0;
    };

    // What every version-6 stream is written with. 256 MiB make a graphics card's memory hold
    // few guesses at a time; the two lanes keep both processors of a small machine busy.
    static constexpr Costs written{262144, 3, 2};
    // Beyond these a header is damage (or an attack on the reader's memory and time), refused
    // before anything is allocated. The fuzz build lowers them, so that each input stays cheap.
    static constexpr quint32 maxMemoryKiB = VARNISK_ARGON2_MAX_MEMORY_KIB;
    static constexpr quint32 minMemoryKiBPerLane = 8;
    static constexpr quint32 maxPasses = VARNISK_ARGON2_MAX_PASSES;
    static constexpr quint32 maxLanes = 16;

    [[nodiscard]] static bool acceptable(const Costs& costs);

    // Derives `outSize` bytes into `out`. Throws std::bad_alloc when the work memory cannot be
    // had, std::runtime_error ("error setting up cipher parameters") on refused costs or any
    // other failure of the library.
    static void derive(const void* password, std::size_t passwordSize, const unsigned char* salt,
                       std::size_t saltSize, const Costs& costs, unsigned char* out,
                       std::size_t outSize);
};
