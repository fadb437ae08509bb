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

QByteArray littleEndian32(quint32 value)
{
    return littleEndian64(value).left(4);
}

// Key and IV by Argon2id v1.3 of the Python binding to the reference implementation.
bool deriveArgon2Key(const QByteArray& password, const QByteArray& salt, quint32 memoryKiB,
                     quint32 passes, quint8 lanes, QByteArray& key, QByteArray& iv)
{
    const TestSupport::ProcessResult result = TestSupport::run(
        QStringLiteral("/usr/bin/python3"),
        {"-c",
         "import sys; from argon2.low_level import hash_secret_raw, Type\n"
         "a = sys.argv[1:]\n"
         "sys.stdout.write(hash_secret_raw(bytes.fromhex(a[0]), bytes.fromhex(a[1]), int(a[3]),"
         " int(a[2]), int(a[4]), 48, Type.ID, 19).hex())",
         password.toHex(), salt.toHex(), QString::number(memoryKiB), QString::number(passes),
         QString::number(lanes)});
    const QByteArray material = QByteArray::fromHex(result.out);
    if (result.exitCode != 0 || material.size() != 48) {
        qWarning("python3-argon2 failed: %s", result.err.constData());
        return false;
    }
    key = material.left(32);
    iv = material.mid(32);
    return true;
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

QByteArray argon2KeyOf(const QByteArray& stream, const QByteArray& password)
{
    QByteArray key, iv;
    const auto cost = [&](int offset) {
        return quint32(readLittleEndian64(stream.mid(offset, 4) + QByteArray(4, '\0')));
    };
    if (stream.size() < 27 || !deriveArgon2Key(password, stream.mid(11, 16), cost(2), cost(6),
                                               quint8(stream.at(10)), key, iv))
        return {};
    return key + iv;
}

QByteArray argon2Stream(const QByteArray& password, const QByteArray& record, quint32 memoryKiB,
                        quint32 passes, quint8 lanes, const QByteArray& salt)
{
    QByteArray key, iv;
    if (!deriveArgon2Key(password, salt, memoryKiB, passes, lanes, key, iv))
        return {};
    const QByteArray body = cipher(false, true, key, iv, record);
    return body.isNull() ? QByteArray()
                         : "\x06\x02" + littleEndian32(memoryKiB) + littleEndian32(passes) +
                               char(lanes) + salt + body;
}

Record open(const QByteArray& stream, const QByteArray& password, bool whole)
{
    Record record;
    QByteArray key, iv;
    const int headerSize = stream.startsWith('\x06') ? 27 : 18;
    if (headerSize == 27) {
        const QByteArray material = argon2KeyOf(stream, password);
        key = material.left(32);
        iv = material.mid(32);
    }
    if (stream.size() < headerSize ||
        (headerSize == 18 ? !deriveKey(password, stream.mid(2, 16), key, iv) : iv.size() != 16))
        return record;
    const QByteArray body = stream.mid(headerSize);
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
