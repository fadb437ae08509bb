#include "SealedText.h"

#include "CryptoFile.h"
#include "EncryptedStream.h"
#include "SecureWipe.h"

#include <QBuffer>
#include <QDataStream>

#include <openssl/rand.h>

namespace {

// As long as the stream's key and IV together: guessing it is no easier than breaking them.
constexpr int ownKeySize = 48;

} // namespace

bool SealedText::seal(const QByteArray& plain, const SecureStringHolder* password)
{
    clear();
    if (password == nullptr) {
        SecureString& key = ownKey.string();
        key.resize(ownKeySize);
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&key[0]), ownKeySize) != 1) {
            secureClear(key);
            return false;
        }
        password = &ownKey;
    }
    try {
        sealedImage = encrypt(plain, *password);
    } catch (...) {
        secureClear(ownKey.string());
        return false;
    }
    return true;
}

QByteArray SealedText::encrypt(const QByteArray& plain, const SecureStringHolder& password)
{
    // The engine's working blocks (plaintext among them) stay on the stack until overwritten.
    struct StackWipe
    {
        ~StackWipe() { secureWipeStack(); }
    } wipeAfterwards;
    QByteArray image;
    image.reserve(plain.size() + 1024);
    QBuffer source;
    source.setData(plain); // shared, not copied
    source.open(QIODevice::ReadOnly);
    QBuffer target(&image);
    target.open(QIODevice::WriteOnly);
    QDataStream input(&source);
    input.setByteOrder(QDataStream::LittleEndian);
    QDataStream output(&target);
    output.setByteOrder(QDataStream::LittleEndian);
    encryptStream(input, static_cast<quint64>(plain.size()), output, password);
    target.close();
    return image;
}

bool SealedText::unseal(const SecureStringHolder* password, QByteArray& plain) const
{
    if (!isSealed() || (password == nullptr && !hasOwnKey()))
        return false;
    QBuffer source;
    source.setData(sealedImage);
    source.open(QIODevice::ReadOnly);
    return CryptoFile::decrypt(source, plain, hasOwnKey() ? ownKey : *password).ok();
}

void SealedText::clear()
{
    sealedImage.clear();
    secureClear(ownKey.string());
}
