#pragma once

#include "securememory/SecureString.h"

#include <QCoreApplication>
#include <QString>

class QLocale;

// Makes passphrases of random common words, which hold for ages against guessing and can still
// be remembered and typed. Each word comes from a list of 7,776, so it adds 12.9 bits; the
// random numbers come from OpenSSL.
class PassphraseGenerator
{
    Q_DECLARE_TR_FUNCTIONS(PassphraseGenerator)

public:
    enum class Language
    {
        English, // the EFF's long list
        German,
    };

    // Six words: 77 bits, beyond any search through this key derivation.
    static constexpr int minimumWords = 6;
    static constexpr int maximumWords = 20;

    // The first of the locale's user-interface languages that has a list; English otherwise.
    static Language languageOf(const QLocale& locale);

    // Writes `words` words of the language's list, separated by single spaces, into
    // `passphrase`. Returns false, leaving `passphrase` empty, when the random source failed
    // (or a compiled-in list is not whole, which a test would have caught).
    [[nodiscard]] static bool generate(SecureString& passphrase, int words, Language language);

    // The user's words for a failed generate().
    static QString failureText();

    // A uniform index into a list of 7,776 words from `draw`, which gives a random 16-bit value
    // (false when the random source failed): -1 then. Values from the last incomplete run of
    // 7,776 are drawn again, so that no word comes up more often than another.
    static int uniformIndex(bool (*draw)(unsigned& value));
};
