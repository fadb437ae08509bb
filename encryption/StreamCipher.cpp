#include "StreamCipher.h"

#include "encryption/EncryptedStream.h"
#include "encryption/StreamCancelled.h"
#include "encryption/StreamHeader.h"
#include "encryption/StreamOutputError.h"
#include "securememory/SecureWipe.h"

#include <QBuffer>
#include <QDataStream>

#include <cerrno>
#include <exception>
#include <limits>
#include <new>

namespace {

using Outcome = Result::Outcome;

// Wipes what the engine left on the stack (plaintext blocks among it) when the function that
// ran it returns.
struct EngineStackWipe
{
    EngineStackWipe() = default;
    ~EngineStackWipe() { secureWipeStack(); }
    EngineStackWipe(const EngineStackWipe&) = delete;
    EngineStackWipe& operator=(const EngineStackWipe&) = delete;
};
static_assert(isUncopyable<EngineStackWipe>);

Result outcomeOf(int decryptResult)
{
    switch (decryptResult) {
    case DecryptOk:
        return {};
    case DecryptVersionTooOld:
        return {Outcome::VersionTooOld, {}};
    case DecryptVersionTooNew:
        return {Outcome::VersionTooNew, {}};
    default:
        return {Outcome::WrongPassword, {}};
    }
}

// Runs one pass of the stream format and words what it threw. A failed write is the output
// device's failure, with the device's reason.
template <typename Pass> Result runStream(QIODevice& output, Pass pass)
{
    const EngineStackWipe wipeAfterwards;
    try {
        return pass();
    } catch (const StreamCancelled&) {
        return {Outcome::Cancelled, {}};
    } catch (const StreamOutputError&) {
        return {Outcome::SaveFailed, output.errorString()};
    } catch (const std::bad_alloc&) {
        return Result::outOfMemory();
    } catch (const std::exception& error) {
        return {Outcome::Failed, QString::fromUtf8(error.what())};
    } catch (...) {
        return {Outcome::UnknownError, {}};
    }
}

// The streams on the devices, with the byte order the format's callers use.
struct Streams
{
    Streams(QIODevice& source, QIODevice& target) : input(&source), output(&target)
    {
        input.setByteOrder(QDataStream::LittleEndian);
        output.setByteOrder(QDataStream::LittleEndian);
    }
    QDataStream input;
    QDataStream output;
};

} // namespace

Result Result::outOfMemory()
{
    return {Outcome::OutOfMemory, qt_error_string(ENOMEM)};
}

Result StreamCipher::encrypt(QIODevice& source, quint64 length, QIODevice& target,
                             const SecureStringHolder& password, StreamProgress* progress,
                             KeyDerivation derivation)
{
    return runStream(target, [&]() {
        Streams streams(source, target);
        encryptStream(streams.input, length, streams.output, password, progress, derivation);
        return Result{};
    });
}

Result StreamCipher::encrypt(const QByteArray& plain, QByteArray& image,
                             const SecureStringHolder& password, KeyDerivation derivation)
{
    QByteArray sealed;
    try {
        sealed.reserve(plain.size() + 1024);
    } catch (const std::bad_alloc&) {
        return Result::outOfMemory();
    }
    QBuffer source;
    source.setData(plain); // shared, not copied
    source.open(QIODevice::ReadOnly);
    QBuffer target(&sealed);
    target.open(QIODevice::WriteOnly);
    const Result result =
        encrypt(source, static_cast<quint64>(plain.size()), target, password, nullptr, derivation);
    target.close();
    if (result.ok())
        image.swap(sealed);
    return result;
}

Result StreamCipher::decrypt(QIODevice& source, QIODevice& target,
                             const SecureStringHolder& password, StreamProgress* progress)
{
    return runStream(target, [&]() {
        Streams streams(source, target);
        return outcomeOf(decryptStream(streams.input, streams.output, password, progress));
    });
}

Result StreamCipher::decrypt(QIODevice& source, QIODevice& target, StreamKey& key,
                             StreamProgress* progress)
{
    return runStream(target, [&]() {
        Streams streams(source, target);
        return outcomeOf(decryptStream(streams.input, streams.output, key, progress));
    });
}

Result StreamCipher::decrypt(QIODevice& source, QByteArray& plain,
                             const SecureStringHolder& password, StreamProgress* progress)
{
    QByteArray buffer;
    // The plaintext is never longer than the stream: room for all of it from the start, so the
    // buffer is not reallocated, leaving copies of the text behind, as it grows.
    try {
        if (!source.isSequential() && source.size() < std::numeric_limits<int>::max())
            buffer.reserve(static_cast<int>(source.size()));
    } catch (const std::bad_alloc&) {
        return Result::outOfMemory();
    }
    QBuffer device(&buffer);
    device.open(QIODevice::WriteOnly);
    const Result result = decrypt(source, static_cast<QIODevice&>(device), password, progress);
    device.close();
    if (result.ok())
        plain.swap(buffer);
    else
        secureWipe(buffer);
    return result;
}

Result StreamCipher::readHeader(QIODevice& source, StreamHeader& header)
{
    return runStream(source, [&]() {
        QDataStream input(&source);
        return outcomeOf(header.read(input));
    });
}

KeyDerivation StreamCipher::derivationOf(const QByteArray& image)
{
    return image.startsWith('\x06') ? KeyDerivation::Argon2id : KeyDerivation::Pbkdf2;
}
