// Throughput of the engine beside the work it cannot avoid: one pass of AES-256-CBC and
// SHA-256 over the same bytes, in the same 4096-byte chunks, reading and writing the same
// files. Each size runs in its own child process, so its peak resident memory is its own.
//
// Usage: bench_engine [DIR [MiB...]]   (default: /dev/shm, 16 and 256 MiB)

#include "CryptoFile.h"
#include "EncryptedStream.h"
#include "SecureStringHolder.h"

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

constexpr int chunkSize = 4096;
constexpr int repeats = 3;

struct CipherFree
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct DigestFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// A buffered C stream, closed on every way out: the plainest buffered file I/O there is.
class Stream
{
public:
    Stream(const QString& path, const char* mode)
        : file(std::fopen(QFile::encodeName(path).constData(), mode))
    {
        if (file == nullptr)
            throw std::runtime_error("cannot open " + path.toStdString());
        // A larger buffer than the engine's files have, so the limit is not flattered by
        // system calls the engine does not make.
        std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    }
    ~Stream() { std::fclose(file); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    std::FILE* get() const { return file; }

private:
    std::FILE* file;
};

double seconds(const std::function<void()>& work)
{
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

void makeInput(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot create the input");
    QByteArray block(1 << 20, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(block.data()), block.size());
    for (qint64 written = 0; written < size; written += block.size())
        file.write(block.constData(), std::min<qint64>(block.size(), size - written));
}

// The limit: read, cipher, hash, write, nothing else; buffered I/O, as the engine's files are.
void rawPass(const QString& from, const QString& to, bool encrypt)
{
    const Stream in(from, "rb");
    const Stream out(to, "wb");
    unsigned char key[32] = {};
    unsigned char iv[16] = {};
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher(EVP_CIPHER_CTX_new());
    std::unique_ptr<EVP_MD_CTX, DigestFree> digest(EVP_MD_CTX_new());
    EVP_CipherInit_ex(cipher.get(), EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0);
    EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr);
    unsigned char chunk[chunkSize];
    unsigned char result[chunkSize + 16];
    for (;;) {
        const std::size_t count = std::fread(chunk, 1, chunkSize, in.get());
        if (count == 0)
            break;
        int produced = 0;
        EVP_CipherUpdate(cipher.get(), result, &produced, chunk, static_cast<int>(count));
        // The digest covers the plaintext: the input when encrypting, the output otherwise.
        if (encrypt)
            EVP_DigestUpdate(digest.get(), chunk, count);
        else
            EVP_DigestUpdate(digest.get(), result, static_cast<std::size_t>(produced));
        if (std::fwrite(result, 1, static_cast<std::size_t>(produced), out.get()) !=
            static_cast<std::size_t>(produced))
            throw std::runtime_error("short write");
    }
    int produced = 0;
    EVP_CipherFinal_ex(cipher.get(), result, &produced);
    unsigned char sum[32];
    EVP_DigestFinal_ex(digest.get(), sum, nullptr);
}

void engineEncrypt(const QString& from, const QString& to, const SecureStringHolder& password)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot open the files");
    QDataStream input(&in);
    QDataStream output(&out);
    input.setByteOrder(QDataStream::LittleEndian);
    output.setByteOrder(QDataStream::LittleEndian);
    encryptStream(input, static_cast<quint64>(in.size()), output, password);
}

void engineDecrypt(const QString& from, const QString& to, const SecureStringHolder& password)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot open the files");
    QDataStream input(&in);
    QDataStream output(&out);
    input.setByteOrder(QDataStream::LittleEndian);
    output.setByteOrder(QDataStream::LittleEndian);
    if (decryptStream(input, output, password) != DecryptOk)
        throw std::runtime_error("decryption failed");
}

void cryptoFileEncrypt(const QString& from, const QString& to, const SecureStringHolder& password)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly) ||
        !CryptoFile::encrypt(in, static_cast<quint64>(in.size()), to, password).ok())
        throw std::runtime_error("CryptoFile::encrypt failed");
}

void cryptoFileDecrypt(const QString& from, const QString& to, const SecureStringHolder& password)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly) || !CryptoFile::decrypt(in, to, password).ok())
        throw std::runtime_error("CryptoFile::decrypt failed");
}

void line(const char* what, qint64 size, double engine, double raw)
{
    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("  %-28s %8.1f MB/s   raw limit %8.1f MB/s   ratio %5.3f\n", what,
                megabytes / engine, megabytes / raw, raw / engine);
}

int runSize(const QString& dir, qint64 size)
{
    const QString plain = dir + QStringLiteral("/bench.plain");
    const QString sealed = dir + QStringLiteral("/bench.sdat");
    const QString back = dir + QStringLiteral("/bench.back");
    const QString rawOut = dir + QStringLiteral("/bench.raw");
    SecureStringHolder password;
    password.string() = "benchmark password";
    makeInput(plain, size);

    std::printf("%lld MiB:\n", static_cast<long long>(size >> 20));
    const double rawEncrypt = seconds([&] { rawPass(plain, rawOut, true); });
    const double encrypt = seconds([&] { engineEncrypt(plain, sealed, password); });
    const double fileEncrypt = seconds([&] { cryptoFileEncrypt(plain, sealed, password); });
    const double rawDecrypt = seconds([&] { rawPass(sealed, rawOut, false); });
    const double decrypt = seconds([&] { engineDecrypt(sealed, back, password); });
    const double fileDecrypt = seconds([&] { cryptoFileDecrypt(sealed, back, password); });
    line("encryptStream", size, encrypt, rawEncrypt);
    line("CryptoFile::encrypt", size, fileEncrypt, rawEncrypt);
    line("decryptStream", size, decrypt, rawDecrypt);
    line("CryptoFile::decrypt", size, fileDecrypt, rawDecrypt);
    for (const QString& file : {plain, sealed, back, rawOut})
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
        sizes = {16LL << 20, 256LL << 20};
    std::printf("bench_engine in %s, best of %d runs, 4096-byte chunks\n", qPrintable(dir),
                repeats);
    std::fflush(stdout);

    for (const qint64 size : sizes) {
        const pid_t child = fork();
        if (child == 0) {
            try {
                _exit(runSize(dir, size));
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
