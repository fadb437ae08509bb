// Throughput of the engine beside the limits of this machine, measured in the same run:
//   - AES-256-CBC encryption alone, in 1 MiB blocks in memory. A CBC chain is serial, so no
//     single stream encrypts faster: the limit for encryption.
//   - AES-256-CBC decryption alone and SHA-256 alone, likewise.
//   - The two-thread limit of each direction: the slower of its cipher and SHA-256, which the
//     engine runs side by side. For encryption that is the AES-CBC limit again.
//   - On one processor the two run in series: 1 / (1 / cipher + 1 / SHA-256).
//   - Reading and writing alone (a copy in the engine's 64 KiB pieces through QFile): encrypting,
//     the calling thread reads, writes and hashes while the helper encrypts, so with slow file
//     writes the calling thread, not the cipher, sets the pace.
// The engine works on files in DIR through QFile, as its callers use it, so its ratios also pay
// for reading and writing. Medians of interleaved rounds. Each size runs in a child process of
// its own, so its peak resident memory is its own.
//
// Usage: bench_engine [DIR [MiB...]]   (default: /dev/shm, 256 MiB)
//   ROUNDS=5 in the environment; VERBOSE=1 prints every run's time.

#include "OneProcessor.h"
#include "encryption/EncryptedStream.h"
#include "files/CryptoFile.h"
#include "securememory/SecureStringHolder.h"

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

constexpr int blockSize = 1 << 20;

struct CipherFree
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct DigestFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// `size` bytes through AES-256-CBC in 1 MiB blocks, in memory.
void cipherAlone(qint64 size, bool encrypt)
{
    static std::vector<unsigned char> in(blockSize, 0x5a);
    static std::vector<unsigned char> out(blockSize + 16);
    const unsigned char key[32] = {1};
    const unsigned char iv[16] = {2};
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher(EVP_CIPHER_CTX_new());
    EVP_CipherInit_ex(cipher.get(), EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(cipher.get(), 0);
    for (qint64 done = 0; done < size; done += blockSize) {
        int produced = 0;
        EVP_CipherUpdate(cipher.get(), out.data(), &produced, in.data(), blockSize);
    }
}

// `size` bytes through SHA-256 in 1 MiB blocks, in memory.
void sha256Alone(qint64 size)
{
    static std::vector<unsigned char> in(blockSize, 0xa5);
    std::unique_ptr<EVP_MD_CTX, DigestFree> digest(EVP_MD_CTX_new());
    EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr);
    for (qint64 done = 0; done < size; done += blockSize)
        EVP_DigestUpdate(digest.get(), in.data(), blockSize);
    unsigned char sum[32];
    EVP_DigestFinal_ex(digest.get(), sum, nullptr);
}

// `from` copied to `to` in the engine's 64 KiB pieces, through QFile as the engine's callers do.
void copyAlone(const QString& from, const QString& to)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot open the files");
    QByteArray piece(64 * 1024, '\0');
    for (qint64 got = 0; (got = in.read(piece.data(), piece.size())) > 0;)
        out.write(piece.constData(), got);
}

void makeInput(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot create the input");
    QByteArray block(blockSize, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(block.data()), block.size());
    for (qint64 written = 0; written < size; written += block.size())
        file.write(block.constData(), std::min<qint64>(block.size(), size - written));
}

void engine(bool encrypt, const QString& from, const QString& to,
            const SecureStringHolder& password)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot open the files");
    QDataStream input(&in);
    QDataStream output(&out);
    input.setByteOrder(QDataStream::LittleEndian);
    output.setByteOrder(QDataStream::LittleEndian);
    if (encrypt)
        encryptStream(input, static_cast<quint64>(in.size()), output, password);
    else if (decryptStream(input, output, password) != DecryptOk)
        throw std::runtime_error("decryption failed");
}

void cryptoFile(bool encrypt, const QString& from, const QString& to,
                const SecureStringHolder& password)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open the input");
    const bool ok =
        encrypt ? CryptoFile::encrypt(in, static_cast<quint64>(in.size()), to, password).ok()
                : CryptoFile::decrypt(in, to, password).ok();
    if (!ok)
        throw std::runtime_error("CryptoFile failed");
}

int runSize(const QString& dir, qint64 size, int rounds)
{
    const QString plain = dir + QStringLiteral("/bench_engine.plain");
    const QString sealed = dir + QStringLiteral("/bench_engine.sdat");
    const QString back = dir + QStringLiteral("/bench_engine.back");
    SecureStringHolder password;
    password.string() = "benchmark password";
    makeInput(plain, size);
    engine(true, plain, sealed, password);

    // Every measurement once per round, so that a busy moment of the machine falls on all. The
    // output of the last round is removed first, so that freeing its pages is not timed.
    const auto fresh = [](const QString& target, std::function<void()> run) {
        return [target, run] {
            QFile::remove(target);
            return seconds(run);
        };
    };
    const std::vector<std::pair<std::string, std::function<double()>>> work = {
        {"aes-encrypt", [&] { return seconds([&] { cipherAlone(size, true); }); }},
        {"aes-decrypt", [&] { return seconds([&] { cipherAlone(size, false); }); }},
        {"sha256", [&] { return seconds([&] { sha256Alone(size); }); }},
        {"io", fresh(back, [&] { copyAlone(plain, back); })},
        {"encryptStream", fresh(sealed, [&] { engine(true, plain, sealed, password); })},
        {"decryptStream", fresh(back, [&] { engine(false, sealed, back, password); })},
        {"CryptoFile::encrypt", fresh(sealed, [&] { cryptoFile(true, plain, sealed, password); })},
        {"CryptoFile::decrypt", fresh(back, [&] { cryptoFile(false, sealed, back, password); })},
        {"encryptStream, one processor", fresh(sealed,
                                               [&] {
                                                   const OneProcessor pinned;
                                                   engine(true, plain, sealed, password);
                                               })},
        {"decryptStream, one processor", fresh(back,
                                               [&] {
                                                   const OneProcessor pinned;
                                                   engine(false, sealed, back, password);
                                               })},
    };
    std::map<std::string, std::vector<double>> times;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, run] : work) {
            times[name].push_back(run());
            if (qEnvironmentVariableIsSet("VERBOSE"))
                std::printf("  %s: %.3f s\n", name.c_str(), times[name].back());
        }
    }
    const double megabytes = static_cast<double>(size) / 1e6;
    std::map<std::string, double> rate;
    for (const auto& [name, values] : times)
        rate[name] = megabytes / median(values);

    const double aesEncrypt = rate["aes-encrypt"];
    const double aesDecrypt = rate["aes-decrypt"];
    const double sha = rate["sha256"];
    const double decryptLimit = std::min(aesDecrypt, sha);
    const auto series = [&](double cipher) { return 1 / (1 / cipher + 1 / sha); };
    std::printf("%lld MiB:\n", static_cast<long long>(size >> 20));
    std::printf("  limits in memory: AES-256-CBC encrypt %.0f MB/s, decrypt %.0f MB/s, "
                "SHA-256 %.0f MB/s\n",
                aesEncrypt, aesDecrypt, sha);
    // Encrypting, the calling thread's share of the work runs beside the cipher's.
    const double callingThread = 1 / (1 / rate["io"] + 1 / sha);
    std::printf("  reading and writing alone %.0f MB/s; with SHA-256 the calling thread's share "
                "of encryption %.0f MB/s, %.2f of the AES-CBC limit\n",
                rate["io"], callingThread, callingThread / aesEncrypt);
    const auto line = [&](const char* name, double limit, const char* what) {
        std::printf("  %-30s %7.0f MB/s  %5.2f of %s (%.0f MB/s)\n", name, rate[name],
                    rate[name] / limit, what, limit);
    };
    line("encryptStream", std::min(aesEncrypt, sha), "the AES-CBC encryption limit");
    line("decryptStream", decryptLimit, "the two-thread limit");
    line("CryptoFile::encrypt", std::min(aesEncrypt, sha), "the AES-CBC encryption limit");
    line("CryptoFile::decrypt", decryptLimit, "the two-thread limit");
    line("encryptStream, one processor", series(aesEncrypt), "AES-CBC and SHA-256 in series");
    line("decryptStream, one processor", series(aesDecrypt), "AES-CBC and SHA-256 in series");
    for (const QString& file : {plain, sealed, back})
        QFile::remove(file);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/dev/shm");
    QList<qint64> sizes;
    for (int i = 2; i < argc; ++i)
        sizes << (static_cast<qint64>(std::atoll(argv[i])) << 20);
    if (sizes.isEmpty())
        sizes = {256LL << 20};
    const int roundCount = qEnvironmentVariableIsSet("ROUNDS")
                               ? std::max(1, qEnvironmentVariableIntValue("ROUNDS"))
                               : 5;
    std::printf("bench_engine in %s, median of %d interleaved rounds\n", qPrintable(dir),
                roundCount);
    std::fflush(stdout);

    for (const qint64 size : sizes) {
        const pid_t child = fork();
        if (child == 0) {
            try {
                _exit(runSize(dir, size, roundCount));
            } catch (const std::exception& error) {
                std::fprintf(stderr, "bench_engine: %s\n", error.what());
                _exit(1);
            }
        }
        int status = 0;
        struct rusage usage = {};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return 1;
        std::printf("  peak resident memory: %ld KiB\n", usage.ru_maxrss);
        std::fflush(stdout); // before the next fork, or the child prints this line again
    }
    return 0;
}
