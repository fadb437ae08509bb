#pragma once

#include "securememory/SecureString.h"

#include <QCoreApplication>
#include <QString>

// How long a password would hold against someone who has one of its files and guesses offline,
// in words for the user. The files' key derivation is cheap and cannot change (PBKDF2-HMAC-SHA1,
// 1,000 iterations), so the guess count that zxcvbn estimates is turned into a time at the rate
// of one graphics card. The editor's confirmation dialog and varnisk-cli both judge by it.
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

    // Guesses a second through this key derivation on one graphics card.
    static constexpr double guessesPerSecond = 1e7;

    // `filePath` names the file the password is for: its name is among the first words an
    // attacker tries. Every copy of the password made on the way is wiped.
    [[nodiscard]] static PasswordStrength estimate(const SecureString& password,
                                                   const QString& filePath);

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
    PasswordStrength(double bits, bool isEmpty) : entropyBits(bits), empty(isEmpty) {}

    double entropyBits;
    bool empty;
};
