#pragma once

#include "encryption/KeyDerivation.h"
#include "encryption/Result.h"
#include "securememory/SecureStringHolder.h"

#include <QByteArray>

// A text sealed in memory: the image of a secrets document, byte for byte what a Save of that
// text writes to disk, encrypted with the document's password or, for a document that has none
// yet, with a random key of its own kept in locked memory. A locked window keeps its text so.
class SealedText
{
public:
    // Seals `plain` with `password` in the format version of `derivation`, as the document is
    // saved, or under a fresh random key when there is none (a random key needs no costly
    // derivation). Nothing is sealed after a failure.
    Result seal(const QByteArray& plain, const SecureStringHolder* password,
                KeyDerivation derivation = KeyDerivation::Pbkdf2);
    // Decrypts the image into `plain` with `password`, which a text sealed under its own key does
    // not need (pass null).
    Result unseal(const SecureStringHolder* password, QByteArray& plain) const;

    [[nodiscard]] bool isSealed() const { return !sealedImage.isEmpty(); }
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
