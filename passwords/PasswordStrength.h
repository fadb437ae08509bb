#pragma once

#include "encryption/KeyDerivation.h"
#include "securememory/SecureString.h"

#include <QCoreApplication>
#include <QString>

// How long a password would hold against someone who has one of its files and guesses offline,
// in words for the user. The guess count that zxcvbn estimates is turned into a time at the rate
// at which one graphics card tries passwords through the file's key derivation. The editor's
// confirmation dialog and varnisk-cli both judge by it.
class PasswordStrength
{
    Q_DECLARE_TR_FUNCTIONS(PasswordStrength)

public:
    enum class Tier
    {
        Weak,   // guessed within 10 years: the user is asked (editor) or warned (varnisk-cli)
        Fair,   // within 10,000 years
        Strong, // longer
    };

    // Guesses a second on one graphics card. Version 5's PBKDF2-HMAC-SHA1 with 1,000
    // iterations costs a card about 2,000 SHA-1 blocks per guess: some 10 million a second.
    // Version 6's Argon2id is bound by memory traffic, not by computing: each guess writes its
    // 256 MiB three times and reads them five times, some 2.1 GB, so a card with 5 TB/s (the
    // fastest of 2024; a gamer's has 1 TB/s) manages about 2,500 a second. 10,000 leaves a
    // factor of four for faster cards and better attacks.
    [[nodiscard]] static double guessesPerSecond(KeyDerivation derivation);

    // `filePath` names the file the password is for: its name is among the first words an
    // attacker tries. Every copy of the password made on the way is wiped.
    [[nodiscard]] static PasswordStrength
    estimate(const SecureString& password, const QString& filePath,
             KeyDerivation derivation = KeyDerivation::Pbkdf2);

    double bits() const { return entropyBits; }
    double seconds() const;
    Tier tier() const;
    bool isEmpty() const { return empty; }

    // "about 3 hours"
    QString timeToGuess() const;
    // "Time to guess: about 3 hours (weak)": the line under the password fields.
    QString line() const;
    // The sentence that tells a user why a weak or empty password is a risk.
    QString warning() const;

private:
    PasswordStrength(double bits, bool isEmpty, double guessRate)
        : entropyBits(bits), empty(isEmpty), rate(guessRate)
    {}

    double entropyBits;
    bool empty;
    double rate;
};
