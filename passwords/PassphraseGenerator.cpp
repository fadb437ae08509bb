#include "PassphraseGenerator.h"

#include <QByteArray>
#include <QFile>
#include <QLocale>
#include <QVector>

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace {

constexpr int listSize = 7776;

// One word per line, ASCII, as the lists are compiled in. The words are no secret; which ones
// were picked is.
QVector<QByteArray> wordList(PassphraseGenerator::Language language)
{
    QFile file(language == PassphraseGenerator::Language::German
                   ? QStringLiteral(":/wordlists/german_wordlist.txt")
                   : QStringLiteral(":/wordlists/eff_large_wordlist.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QVector<QByteArray> words = file.readAll().split('\n').toVector();
    if (!words.isEmpty() && words.constLast().isEmpty())
        words.removeLast();
    return words;
}

// Two random bytes from OpenSSL.
bool randomBytes(unsigned& value)
{
    unsigned char bytes[2];
    const bool drawn = RAND_bytes(bytes, sizeof bytes) == 1;
    value = (unsigned{bytes[0]} << 8) | bytes[1];
    OPENSSL_cleanse(bytes, sizeof bytes);
    return drawn;
}

} // namespace

int PassphraseGenerator::uniformIndex(bool (*draw)(unsigned& value))
{
    constexpr unsigned limit = 65536 - 65536 % listSize;
    unsigned value = limit;
    while (value >= limit) {
        if (!draw(value))
            return -1;
    }
    return static_cast<int>(value % listSize);
}

PassphraseGenerator::Language PassphraseGenerator::languageOf(const QLocale& locale)
{
    for (const QString& name : locale.uiLanguages()) {
        if (name.startsWith(QLatin1String("de")))
            return Language::German;
        if (name.startsWith(QLatin1String("en")))
            return Language::English;
    }
    return Language::English;
}

bool PassphraseGenerator::generate(SecureString& passphrase, int words, Language language)
{
    // The lists are resources of this static library, which a program gets only when asked.
    static const bool listsRegistered = [] {
        Q_INIT_RESOURCE(wordlists);
        return true;
    }();
    Q_UNUSED(listsRegistered)
    secureClear(passphrase);
    const QVector<QByteArray> list = wordList(language);
    if (list.size() != listSize)
        return false;
    passphrase.reserve(static_cast<std::size_t>(words) * 10);
    for (int i = 0; i < words; ++i) {
        const int index = uniformIndex(randomBytes);
        if (index < 0) {
            secureClear(passphrase);
            return false;
        }
        if (i > 0)
            passphrase += ' ';
        passphrase.append(list.at(index).constData(),
                          static_cast<std::size_t>(list.at(index).size()));
    }
    return true;
}

QString PassphraseGenerator::failureText()
{
    return tr("No passphrase could be made: the system's random number generator failed.");
}
