#pragma once

#include "SecureStringHolder.h"

#include <QByteArray>

// A text sealed in memory: the image of a secrets document, byte for byte what a Save of that
// text writes to disk, encrypted with the document's password or, for a document that has none
// yet, with a random key of its own kept in locked memory. A locked window keeps its text so.
class SealedText
{
public:
    // Seals `plain` with `password`, or under a fresh random key when there is none. False when
    // the engine failed; nothing is sealed then.
    [[nodiscard]] bool seal(const QByteArray& plain, const SecureStringHolder* password);
    // Decrypts the image into `plain` with `password`, which a text sealed under its own key does
    // not need (pass null). False for every failure alike: a wrong password, a damaged image,
    // whatever the engine threw.
    [[nodiscard]] bool unseal(const SecureStringHolder* password, QByteArray& plain) const;

    [[nodiscard]] bool isSealed() const { return !sealedImage.isEmpty(); }
    // The image of `plain` encrypted with `password`, a complete secrets document; throws what
    // the engine throws.
    [[nodiscard]] static QByteArray encrypt(const QByteArray& plain,
                                            const SecureStringHolder& password);

    // Sealed under its own key: anyone at this computer can unseal it.
    [[nodiscard]] bool hasOwnKey() const { return !ownKey.string().empty(); }
    // The image as a file holds it.
    [[nodiscard]] const QByteArray& image() const { return sealedImage; }
    // Forgets the image and wipes the key.
    void clear();

private:
    QByteArray sealedImage;
    SecureStringHolder ownKey;
};
