#include "OpensslStream.h"

#include "TestSupport.h"

#include <QStringList>

namespace OpensslStream {

namespace {

QByteArray runOpenssl(const QStringList& arguments, const QByteArray& input = {})
{
    const TestSupport::ProcessResult result = TestSupport::openssl(arguments, input);
    if (result.exitCode == 0)
        return result.out.isNull() ? QByteArray("") : result.out;
    qWarning("openssl %s failed: %s", qPrintable(arguments.first()), result.err.constData());
    return {};
}

qint64 readLittleEndian64(const QByteArray& bytes)
{
    quint64 value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(i));
    return static_cast<qint64>(value);
}

// Key (32 bytes) and IV (16 bytes) by openssl's PBKDF2 with SHA-1 and 1000 rounds.
bool deriveKey(const QByteArray& password, const QByteArray& salt, QByteArray& key, QByteArray& iv)
{
    const QByteArray material =
        runOpenssl({"kdf", "-binary", "-keylen", "48", "-kdfopt", "digest:SHA1", "-kdfopt",
                    "hexpass:" + password.toHex(), "-kdfopt", "hexsalt:" + salt.toHex(), "-kdfopt",
                    "iter:1000", "PBKDF2"});
    key = material.left(32);
    iv = material.mid(32);
    return material.size() == 48;
}

// AES-256-CBC by openssl; without `pad`, the input must be whole blocks.
QByteArray cipher(bool decrypt, bool pad, const QByteArray& key, const QByteArray& iv,
                  const QByteArray& input)
{
    QStringList arguments{
        "enc", decrypt ? "-d" : "-e", "-aes-256-cbc", "-K", key.toHex(), "-iv", iv.toHex()};
    if (!pad)
        arguments << "-nopad";
    return runOpenssl(arguments, input);
}

} // namespace

QByteArray littleEndian64(qint64 value)
{
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>((static_cast<quint64>(value) >> (8 * i)) & 0xff);
    return bytes;
}

QByteArray sha256(const QByteArray& input)
{
    return runOpenssl({"dgst", "-sha256", "-binary"}, input);
}

QByteArray record(const QByteArray& prefix, const QByteArray& data)
{
    return littleEndian64(prefix.size() + data.size()) + prefix + data + sha256(prefix + data);
}

QByteArray stream(char version, const QByteArray& password, QByteArray record,
                  const QByteArray& salt)
{
    QByteArray key, iv;
    if (!deriveKey(password, salt, key, iv))
        return {};
    if (version == 4) {
        while (record.size() % 16 != 0)
            record.append('\xa5');
    }
    const QByteArray body = cipher(false, version != 4, key, iv, record);
    return body.isNull() ? QByteArray() : QByteArray(1, version) + '\x01' + salt + body;
}

Record open(const QByteArray& stream, const QByteArray& password, bool whole)
{
    Record record;
    QByteArray key, iv;
    if (stream.size() < 18 || !deriveKey(password, stream.mid(2, 16), key, iv))
        return record;
    const QByteArray body = stream.mid(18);
    const QByteArray plain =
        cipher(true, whole, key, iv, body.left(whole ? body.size() : body.size() / 16 * 16));
    if (plain.size() < 9)
        return record;
    record.total = readLittleEndian64(plain.left(8));
    const int prefixLength = static_cast<unsigned char>(plain.at(8)) + 1;
    if (record.total < prefixLength || (whole && 8 + record.total > plain.size()))
        return record;
    const int total = static_cast<int>(record.total);
    record.prefix = plain.mid(8, prefixLength);
    record.data = plain.mid(8 + prefixLength, total - prefixLength);
    record.digest = plain.mid(8 + total, 32);
    record.rest = plain.mid(8 + total + 32);
    record.ok = true;
    return record;
}

} // namespace OpensslStream
