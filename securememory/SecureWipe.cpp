#include "SecureWipe.h"

#include <QByteArray>
#include <QString>

#include <openssl/crypto.h>

namespace {

// The vector registers keep the last bytes that a copy, a search or the cipher moved through
// them, and the next library call that is bound lazily (the system libraries' calls are) saves
// all of them on the stack. They are zeroed together with the buffers and the stack.
#if defined(__x86_64__)
[[gnu::noinline, gnu::target("avx512f")]] void wipeVectorRegistersAvx512() noexcept
{
    // vzeroall clears the first sixteen in full; the other sixteen exist only with AVX-512.
    asm volatile("vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
                 "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
                 "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
                 "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
                 "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
                 "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
                 "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
                 "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31\n\t"
                 "vzeroall" ::
                     : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                       "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16",
                       "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
                       "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}

[[gnu::noinline, gnu::target("avx")]] void wipeVectorRegistersAvx() noexcept
{
    asm volatile("vzeroall" ::
                     : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                       "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}

[[gnu::noinline]] void wipeVectorRegistersSse() noexcept
{
    asm volatile("pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\t"
                 "pxor %%xmm3, %%xmm3\n\tpxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\t"
                 "pxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\tpxor %%xmm8, %%xmm8\n\t"
                 "pxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
                 "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\t"
                 "pxor %%xmm15, %%xmm15" ::
                     : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                       "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}
#endif

void wipeVectorRegisters() noexcept
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f"))
        wipeVectorRegistersAvx512();
    else if (__builtin_cpu_supports("avx"))
        wipeVectorRegistersAvx();
    else
        wipeVectorRegistersSse();
#endif
}

} // namespace

void secureWipe(QByteArray& bytes) noexcept
{
    // constData(): data() would first detach a shared buffer and wipe only the fresh copy.
    if (!bytes.isEmpty())
        OPENSSL_cleanse(const_cast<char*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
    bytes.clear();
    wipeVectorRegisters();
}

void secureWipe(QString& text) noexcept
{
    if (!text.isEmpty())
        OPENSSL_cleanse(const_cast<QChar*>(text.constData()),
                        static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
    wipeVectorRegisters();
}

[[gnu::noinline]] void secureWipeStack() noexcept
{
    // A frame of its own, placed where the callee frames of the caller were.
    unsigned char area[256 * 1024];
    OPENSSL_cleanse(area, sizeof area);
    wipeVectorRegisters();
}
