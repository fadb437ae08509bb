#include "MemoryCheck.h"

#include <sys/mman.h>

namespace {

// Showing a text takes about this many times its UTF-8 size: a 20 MiB document of 64-byte lines
// made the editor's address space grow by 215 MiB (its UTF-16 copies, one block and layout per
// line), the first edit included.
constexpr qint64 textFactor = 12;
// Small texts are never checked: a failing probe there would say nothing the next few pages
// could not.
constexpr qint64 smallText = 1 << 20;

} // namespace

bool MemoryCheck::roomFor(qint64 bytes)
{
    if (bytes <= 0)
        return true;
    // A mapping that is neither touched nor kept: the kernel checks the address-space limit and
    // its commit accounting, and gives it back at once. No heap block, so nothing to wipe.
    void* probe = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe == MAP_FAILED)
        return false;
    munmap(probe, static_cast<size_t>(bytes));
    return true;
}

bool MemoryCheck::roomForText(qint64 utf8Bytes)
{
    return utf8Bytes < smallText || roomFor(utf8Bytes * textFactor);
}
