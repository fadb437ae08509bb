#include "SealedText.h"

#include "encryption/StreamCipher.h"

#include <QBuffer>

#include <openssl/rand.h>

namespace {

// As long as the stream's key and IV together: guessing it is no easier than breaking them.
constexpr int ownKeySize = 48;

} // namespace

Result SealedText::seal(const QByteArray& plain, const SecureStringHolder* password,
                        KeyDerivation derivation)
{
    clear();
    if (password == nullptr) {
        derivation = KeyDerivation::Pbkdf2;
        SecureString& key = ownKey.string();
        key.resize(ownKeySize);
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&key[0]), ownKeySize) != 1) {
            secureClear(key);
            return {Result::Outcome::Failed, QStringLiteral("random generator failed")};
        }
        password = &ownKey;
    }
    const Result sealedNow = StreamCipher::encrypt(plain, sealedImage, *password, derivation);
    if (!sealedNow.ok())
        secureClear(ownKey.string());
    return sealedNow;
}

Result SealedText::unseal(const SecureStringHolder* password, QByteArray& plain) const
{
    if (!isSealed() || (password == nullptr && !hasOwnKey()))
        return {Result::Outcome::WrongPassword, {}};
    QBuffer source;
    source.setData(sealedImage);
    source.open(QIODevice::ReadOnly);
    return StreamCipher::decrypt(source, plain, hasOwnKey() ? ownKey : *password);
}

void SealedText::clear()
{
    sealedImage.clear();
    secureClear(ownKey.string());
}
