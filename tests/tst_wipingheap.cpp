// The wiping heap, linked as the programs link it: a freed block keeps no byte of what it held,
// and a double free still aborts, as glibc's checks make it without the wiping.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main()
{
    // Reads the freed block through its old pointer, on purpose: what is left there now.
    constexpr std::size_t size = 200;
    auto* volatile block = static_cast<unsigned char*>(std::malloc(size));
    std::memset(block, 'S', size);
    std::free(block);
    int left = 0;
    for (std::size_t at = 0; at < size; ++at)
        left += block[at] == 'S';
    if (left > 0) {
        std::fprintf(stderr, "%d bytes of a freed block survived\n", left);
        return 1;
    }

    const pid_t child = fork();
    if (child == 0) {
        const struct rlimit noCoreFile = {0, 0};
        setrlimit(RLIMIT_CORE, &noCoreFile);
        void* volatile twice = std::malloc(40);
        std::free(twice);
        std::free(twice);
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFSIGNALED(status) ||
        WTERMSIG(status) != SIGABRT) {
        std::fprintf(stderr, "a double free went unnoticed\n");
        return 1;
    }
    return 0;
}
