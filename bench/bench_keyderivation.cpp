// What format version 6 costs where the user waits for it, beside version 5:
//   - one key derivation: Argon2id with the written costs (256 MiB, 3 passes, 2 lanes), on both
//     processors and pinned to one, and PBKDF2-HMAC-SHA1 with 1,000 iterations;
//   - a 10 MB document sealed in memory (lock) and unsealed (unlock), and decrypted (open).
// Wall-clock medians of interleaved rounds, with the CPU time of the process beside them.
//
// Usage: bench_keyderivation [ROUNDS]   (default 5)

#include "OneProcessor.h"
#include "encryption/Argon2id.h"
#include "encryption/SealedText.h"
#include "securememory/SecureStringHolder.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <openssl/evp.h>

namespace {

struct Times
{
    std::vector<double> wall;
    std::vector<double> cpu;
};

double cpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void measure(Times& times, const std::function<void()>& work)
{
    const double cpuStart = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    times.wall.push_back(took.count());
    times.cpu.push_back(cpuSeconds() - cpuStart);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void fail(const char* what)
{
    std::fprintf(stderr, "bench_keyderivation: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const unsigned char salt[16] = {7};
    unsigned char key[48];
    SecureStringHolder password;
    password.string() = "correct horse battery staple";
    const QByteArray document(10'000'000, 'x');

    std::map<std::string, Times> results;
    for (int round = 0; round < rounds; ++round) {
        measure(results["Argon2id, written costs, 2 processors"], [&] {
            Argon2id::derive("pw", 2, salt, sizeof salt, Argon2id::written, key, sizeof key);
        });
        if (OneProcessor::several()) {
            const OneProcessor pinned;
            measure(results["Argon2id, written costs, 1 processor"], [&] {
                Argon2id::derive("pw", 2, salt, sizeof salt, Argon2id::written, key, sizeof key);
            });
        }
        measure(results["PBKDF2-HMAC-SHA1, 1,000 iterations"],
                [&] { PKCS5_PBKDF2_HMAC_SHA1("pw", 2, salt, sizeof salt, 1000, sizeof key, key); });
        for (const KeyDerivation derivation : {KeyDerivation::Pbkdf2, KeyDerivation::Argon2id}) {
            const std::string version =
                derivation == KeyDerivation::Argon2id ? "version 6" : "version 5";
            SealedText sealed;
            QByteArray back;
            measure(results["10 MB document, lock (seal), " + version], [&] {
                if (!sealed.seal(document, &password, derivation).ok())
                    fail("sealing failed");
            });
            measure(results["10 MB document, unlock (unseal), " + version], [&] {
                if (!sealed.unseal(&password, back).ok() || back != document)
                    fail("unsealing failed");
            });
        }
    }
    std::printf("bench_keyderivation, median of %d rounds: wall s (CPU s)\n", rounds);
    for (const auto& [name, times] : results)
        std::printf("  %-48s %7.3f (%.3f)\n", name.c_str(), median(times.wall), median(times.cpu));
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak resident memory: %ld KiB\n", usage.ru_maxrss);
    return 0;
}
