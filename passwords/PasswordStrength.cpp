#include "PasswordStrength.h"

#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QByteArray>
#include <QFileInfo>
#include <QLocale>

#include <zxcvbn.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double secondsPerYear = 365.25 * 24 * 3600;
constexpr double weakBelowSeconds = 10 * secondsPerYear;
constexpr double fairBelowSeconds = 10000 * secondsPerYear;

bool isMark(char32_t codePoint)
{
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// The letters that no decomposition takes apart, spelled as a keyboard without them would.
const char* spelledOut(char32_t codePoint)
{
    switch (codePoint) {
    case U'ß':
        return "ss";
    case U'ẞ':
        return "SS";
    case U'æ':
        return "ae";
    case U'Æ':
        return "AE";
    case U'ø':
        return "o";
    case U'Ø':
        return "O";
    case U'œ':
        return "oe";
    case U'Œ':
        return "OE";
    case U'ł':
        return "l";
    case U'Ł':
        return "L";
    default:
        return nullptr;
    }
}

// `text` without accents: decomposed (NFKD), combining marks dropped, the letters above spelled
// out. zxcvbn counts every non-ASCII character as a rare symbol, so "pässwörter" scores like a
// strong password while "passworter" is found in its dictionary.
QString folded(const QString& text)
{
    QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString result;
    result.reserve(decomposed.size() * 2);
    for (int i = 0; i < decomposed.size(); ++i) {
        const QChar unit = decomposed.at(i);
        char32_t codePoint = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < decomposed.size() &&
            decomposed.at(i + 1).isLowSurrogate())
            codePoint = QChar::surrogateToUcs4(unit, decomposed.at(++i));
        if (isMark(codePoint))
            continue;
        if (const char* spelling = spelledOut(codePoint))
            result.append(QLatin1String(spelling));
        else if (QChar::requiresSurrogates(codePoint))
            result.append(QChar(QChar::highSurrogate(codePoint)))
                .append(QChar(QChar::lowSurrogate(codePoint)));
        else
            result.append(QChar(static_cast<char16_t>(codePoint)));
    }
    secureWipe(decomposed);
    return result;
}

// Into `out`, the folded form of `password`; false when folding changes nothing (every ASCII
// password). Each intermediate copy is wiped before it is freed.
bool foldInto(const SecureString& password, SecureString& out)
{
    if (std::all_of(password.begin(), password.end(),
                    [](char byte) { return static_cast<unsigned char>(byte) < 0x80; }))
        return false;
    QString text = QString::fromUtf8(password.data(), static_cast<int>(password.size()));
    QString foldedText = folded(text);
    QByteArray utf8 = foldedText.toUtf8();
    out.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    secureWipe(utf8);
    secureWipe(foldedText);
    secureWipe(text);
    return true;
}

} // namespace

double PasswordStrength::guessesPerSecond(KeyDerivation derivation)
{
    return derivation == KeyDerivation::Argon2id ? 1e4 : 1e7;
}

PasswordStrength PasswordStrength::estimate(const SecureString& password, const QString& filePath,
                                            KeyDerivation derivation)
{
    // The user words, in lower case as zxcvbn compares them: the file's name without its
    // suffixes, plain and folded, and the program's name.
    const QString stem = QFileInfo(filePath).baseName().toLower();
    std::vector<QByteArray> words = {stem.toUtf8(), folded(stem).toUtf8(),
                                     QByteArrayLiteral("varnisk")};
    words.erase(std::remove(words.begin(), words.end(), QByteArray()), words.end());
    std::vector<const char*> userDictionary;
    for (const QByteArray& word : words)
        userDictionary.push_back(word.constData());
    userDictionary.push_back(nullptr);

    // zxcvbn reads up to the first zero byte; a password holding one is judged by its start,
    // which can only lower the estimate.
    double bits = ZxcvbnMatch(password.c_str(), userDictionary.data(), nullptr);
    SecureStringHolder foldedPassword;
    if (foldInto(password, foldedPassword.string()))
        bits = std::min(
            bits, ZxcvbnMatch(foldedPassword.string().c_str(), userDictionary.data(), nullptr));
    // zxcvbn's working copies of the password's pieces lie in its dead stack frames.
    secureWipeStack();
    return PasswordStrength(password.empty() ? 0.0 : bits, password.empty(),
                            guessesPerSecond(derivation));
}

double PasswordStrength::seconds() const
{
    return std::exp2(entropyBits) / rate;
}

PasswordStrength::Tier PasswordStrength::tier() const
{
    const double time = seconds();
    if (empty || time < weakBelowSeconds)
        return Tier::Weak;
    return time < fairBelowSeconds ? Tier::Fair : Tier::Strong;
}

QString PasswordStrength::timeToGuess() const
{
    struct Unit
    {
        double seconds;
        const char* one;
        const char* many;
    };
    static const Unit units[] = {
        {1, QT_TR_NOOP("about a second"), QT_TR_NOOP("about %1 seconds")},
        {60, QT_TR_NOOP("about a minute"), QT_TR_NOOP("about %1 minutes")},
        {3600, QT_TR_NOOP("about an hour"), QT_TR_NOOP("about %1 hours")},
        {86400, QT_TR_NOOP("about a day"), QT_TR_NOOP("about %1 days")},
        {secondsPerYear, QT_TR_NOOP("about a year"), QT_TR_NOOP("about %1 years")},
    };
    const double time = seconds();
    if (time < 1)
        return tr("less than a second");
    if (time >= 1e6 * secondsPerYear)
        return tr("more than a million years");
    const Unit* unit = std::begin(units);
    while (unit + 1 != std::end(units) && time >= unit[1].seconds)
        ++unit;
    // Two significant digits: the estimate is no finer than that.
    double count = std::round(time / unit->seconds);
    if (count >= 100) {
        const double step = std::pow(10.0, std::floor(std::log10(count)) - 1);
        count = std::round(count / step) * step;
    }
    if (count < 2)
        return tr(unit->one);
    return tr(unit->many).arg(QLocale().toString(static_cast<qlonglong>(count)));
}

QString PasswordStrength::line() const
{
    const Tier level = tier();
    const QString name = level == Tier::Weak   ? tr("weak")
                         : level == Tier::Fair ? tr("fair")
                                               : tr("strong");
    return tr("Time to guess: %1 (%2)").arg(timeToGuess(), name);
}

QString PasswordStrength::warning() const
{
    if (empty)
        return tr("The password is empty: anyone who has the file can open it.");
    return tr("One graphics card would guess this password in %1.").arg(timeToGuess());
}
