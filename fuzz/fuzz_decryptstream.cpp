// libFuzzer target for decryptStream, the one parser that sees untrusted files.
//
// The first input byte chooses how the rest is used:
//   mode 0 (bits 0-1 = 0): bits 2-4 give a password length n; n password bytes follow, then
//          the stream itself. Mutations mostly die in the cipher, but header, salt and size
//          handling are covered, and a valid seed gets the fuzzer past the key derivation.
//   mode 1: the rest is a plaintext record that is encrypted here under a fixed password and
//          salt (version 4 when bit 2 is set, 6 when bit 3 is, else 5), so mutations reach the
//          record parsing behind the cipher. When the reader accepts it, the record must really
//          be valid.
//   mode 2 and 3: byte 1 gives the prefix byte, the rest is the data; a well-formed record is
//          built around them (versions chosen as in mode 1), and it must decrypt to exactly
//          that data.
// Version 6 headers cost what they say: the fuzz build caps the Argon2id costs a reader takes
// (64 KiB, 2 passes), so that a mutated header is refused or cheap; the records of modes 1 to 3
// are sealed with the least costs (8 KiB, 1 pass, 1 lane).
// Any other outcome, an exception other than a known std::runtime_error, or a sanitizer
// report is a crash.

#include "encryption/Argon2id.h"
#include "encryption/EncryptedStream.h"
#include "encryption/OpenSslPointers.h"
#include "securememory/SecureStringHolder.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <openssl/evp.h>

namespace {

const char fixedPassword[] = "fuzz";
const unsigned char fixedSalt[16] = {0x5a, 0x17, 0x00, 0xff, 0x80, 0x01, 0x42, 0x99,
                                     0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x7f};

[[noreturn]] void crash(const char* why)
{
    std::fprintf(stderr, "fuzz_decryptstream: %s\n", why);
    std::abort();
}

constexpr Argon2id::Costs sealingCosts{8, 1, 1};

// Key and IV for the fixed password and salt, derived once for each key derivation.
const unsigned char* fixedKeyMaterial(char version)
{
    static unsigned char pbkdf2[48];
    static unsigned char argon2[48];
    static const bool derived = [] {
        Argon2id::derive(fixedPassword, 4, fixedSalt, sizeof fixedSalt, sealingCosts, argon2,
                         sizeof argon2);
        return PKCS5_PBKDF2_HMAC_SHA1(fixedPassword, 4, fixedSalt, sizeof fixedSalt, 1000,
                                      sizeof pbkdf2, pbkdf2) == 1;
    }();
    if (!derived)
        crash("key derivation failed");
    return version == 6 ? argon2 : pbkdf2;
}

QByteArray header(char version)
{
    const QByteArray salt(reinterpret_cast<const char*>(fixedSalt), sizeof fixedSalt);
    if (version == 6)
        return QByteArray("\x06\x02\x08\x00\x00\x00\x01\x00\x00\x00\x01", 11) + salt;
    return QByteArray(1, version) + '\x01' + salt;
}

// Version 4 when bit 2 of the mode byte is set, 6 when bit 3 is, else 5.
char versionOf(char mode)
{
    return (mode & 4) ? 4 : (mode & 8) ? 6 : 5;
}

// Header, salt and `record` encrypted under the fixed key; version 4 bodies are unpadded, so
// the record is cut to whole blocks.
QByteArray sealRecord(char version, QByteArray record)
{
    if (version == 4)
        record.truncate(record.size() / 16 * 16);
    const unsigned char* material = fixedKeyMaterial(version);
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, material, material + 32) != 1)
        crash("cipher set-up failed");
    EVP_CIPHER_CTX_set_padding(context.get(), version == 4 ? 0 : 1);
    QByteArray body(record.size() + 16, '\0');
    int produced = 0;
    int last = 0;
    auto* out = reinterpret_cast<unsigned char*>(body.data());
    if (EVP_EncryptUpdate(context.get(), out, &produced,
                          reinterpret_cast<const unsigned char*>(record.constData()),
                          record.size()) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out + produced, &last) != 1)
        crash("encryption failed");
    body.truncate(produced + last);
    return header(version) + body;
}

QByteArray sha256(const QByteArray& data)
{
    unsigned char digest[32];
    unsigned int size = 0;
    if (EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &size, EVP_sha256(),
                   nullptr) != 1)
        crash("digest failed");
    return QByteArray(reinterpret_cast<const char*>(digest), 32);
}

QByteArray littleEndian64(quint64 value)
{
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

bool knownMessage(const char* message)
{
    static const char* const messages[] = {
        "error writing output",         "error setting up cipher parameters",
        "error setting up cipher",      "error initializing hash",
        "error updating hash",          "error calculating hash",
        "unexpected end of input",      "error decrypting",
        "error decrypting final block", "invalid header data",
    };
    for (const char* known : messages) {
        if (std::strcmp(message, known) == 0)
            return true;
    }
    return false;
}

struct Outcome
{
    int result = -1; // -1: a known error was thrown
    QByteArray written;
};

Outcome decrypt(const QByteArray& stream, const QByteArray& password)
{
    SecureStringHolder holder;
    holder.string().assign(password.constData(), static_cast<std::size_t>(password.size()));
    QByteArray source = stream;
    QBuffer input(&source);
    input.open(QIODevice::ReadOnly);
    Outcome outcome;
    QBuffer output(&outcome.written);
    output.open(QIODevice::WriteOnly);
    QDataStream in(&input);
    in.setByteOrder(QDataStream::LittleEndian);
    QDataStream out(&output);
    out.setByteOrder(QDataStream::LittleEndian);
    try {
        outcome.result = decryptStream(in, out, holder);
    } catch (const std::runtime_error& error) {
        if (!knownMessage(error.what()))
            crash(error.what());
    } catch (...) {
        crash("unexpected exception type");
    }
    if (outcome.result < -1 || outcome.result > 3)
        crash("result out of range");
    // The smallest valid stream is 66 bytes; anything shorter can never be accepted.
    if (outcome.result == DecryptOk && stream.size() < 66)
        crash("accepted a stream shorter than 66 bytes");
    // Header, salt, total and digest take 58 bytes; padding and prefix more.
    if (outcome.result == DecryptOk && outcome.written.size() > stream.size() - 58)
        crash("wrote more data than the stream can hold");
    return outcome;
}

void rawStream(const QByteArray& input)
{
    const int passwordLength = (static_cast<unsigned char>(input.at(0)) >> 2) & 7;
    decrypt(input.mid(1 + passwordLength), input.mid(1, passwordLength));
}

void rawRecord(const QByteArray& input)
{
    const char version = versionOf(input.at(0));
    const QByteArray record = input.mid(1);
    const Outcome outcome = decrypt(sealRecord(version, record), fixedPassword);
    if (outcome.result != DecryptOk)
        return;
    // Accepted: total, prefix, data and digest must all be there and agree.
    const QByteArray kept = version == 4 ? record.left(record.size() / 16 * 16) : record;
    if (kept.size() < 9 + 32)
        crash("accepted a record too short to hold total, prefix and digest");
    quint64 total = 0;
    for (int i = 7; i >= 0; --i)
        total = (total << 8) | static_cast<unsigned char>(kept.at(i));
    if (total > static_cast<quint64>(kept.size() - 8 - 32))
        crash("accepted a total beyond the record");
    const int end = 8 + static_cast<int>(total);
    if (version != 4 && kept.size() != end + 32)
        crash("accepted bytes after the digest in version 5 or 6");
    const int prefixLength = static_cast<unsigned char>(kept.at(8) + 1);
    if (prefixLength > static_cast<int>(total))
        crash("accepted a prefix longer than the total");
    if (sha256(kept.mid(8, end - 8)) != kept.mid(end, 32))
        crash("accepted a record whose digest does not match");
    if (outcome.written != kept.mid(8 + prefixLength, end - 8 - prefixLength))
        crash("accepted record decrypted to other data");
}

void wellFormed(const QByteArray& input)
{
    if (input.size() < 2)
        return;
    const char version = versionOf(input.at(0));
    const unsigned char prefixByte = static_cast<unsigned char>(input.at(1)) & 31;
    const QByteArray data = input.mid(2);
    QByteArray prefix(prefixByte + 1, '\x3c');
    prefix[0] = static_cast<char>(prefixByte);
    QByteArray record = littleEndian64(static_cast<quint64>(prefix.size() + data.size())) + prefix +
                        data + sha256(prefix + data);
    if (version == 4)
        record.append(QByteArray(15, '\x77')); // bytes after the digest, kept to whole blocks
    const Outcome outcome = decrypt(sealRecord(version, record), fixedPassword);
    if (outcome.result != DecryptOk)
        crash("a well-formed record was not accepted");
    if (outcome.written != data)
        crash("a well-formed record decrypted to other data");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 1 << 20)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
    switch (input.at(0) & 3) {
    case 0:
        rawStream(input);
        break;
    case 1:
        rawRecord(input);
        break;
    default:
        wellFormed(input);
        break;
    }
    return 0;
}
