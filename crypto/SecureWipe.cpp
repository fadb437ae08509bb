#include "SecureWipe.h"

#include <QByteArray>
#include <QString>

#include <openssl/crypto.h>

void secureWipe(QByteArray& bytes) noexcept
{
    // constData(): data() would first detach a shared buffer and wipe only the fresh copy.
    if (!bytes.isEmpty())
        OPENSSL_cleanse(const_cast<char*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
    bytes.clear();
}

void secureWipe(QString& text) noexcept
{
    if (!text.isEmpty())
        OPENSSL_cleanse(const_cast<QChar*>(text.constData()),
                        static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}
