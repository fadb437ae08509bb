// The wiping heap, linked as the programs link it: a freed block keeps no byte of what it held,
// and a double free still aborts, as glibc's checks make it without the wiping.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main()
{
    // Reads freed blocks through their old pointers, on purpose: what is left there now. glibc
    // writes a random key of its own into a freed block, which may by chance equal a byte that
    // was there; a byte counts as kept only when it survives two fillings alike.
    constexpr std::size_t size = 200;
    bool kept[size];
    for (const unsigned char fill : {'S', 'T'}) {
        auto* volatile block = static_cast<unsigned char*>(std::malloc(size));
        std::memset(block, fill, size);
        std::free(block);
        for (std::size_t at = 0; at < size; ++at)
            kept[at] = (fill == 'S' || kept[at]) && block[at] == fill;
    }
    int left = 0;
    for (const bool byte : kept)
        left += byte;
    if (left > 0) {
        std::fprintf(stderr, "%d bytes of a freed block survived\n", left);
        return 1;
    }

    // A small block goes to glibc's cache; a large one at the heap's end merges into its free
    // end (the top chunk).
    for (const std::size_t twiceSize : {std::size_t(40), std::size_t(100000)}) {
        const pid_t child = fork();
        if (child == 0) {
            const struct rlimit noCoreFile = {0, 0};
            setrlimit(RLIMIT_CORE, &noCoreFile);
            void* volatile twice = std::malloc(twiceSize);
            std::free(twice);
            std::free(twice);
            _exit(0);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFSIGNALED(status) ||
            WTERMSIG(status) != SIGABRT) {
            std::fprintf(stderr, "a double free of %zu bytes went unnoticed (status %d)\n",
                         twiceSize, status);
            return 1;
        }
    }
    return 0;
}
