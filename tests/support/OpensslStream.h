#pragma once

#include <QByteArray>

// The stream format built and taken apart with the openssl command-line tool, an
// implementation independent of ours (and, for version 6's key, Argon2 through Debian's
// python3-argon2): the expected bytes of the known-answer tests. Every function warns and
// returns a null array (or an empty record) when a tool fails.
namespace OpensslStream {

const QByteArray fixedSalt = QByteArray::fromHex("00112233445566778899aabbccddeeff");

QByteArray littleEndian64(qint64 value);
QByteArray sha256(const QByteArray& input);

// A plaintext record as the format lays it out: total, prefix, data, SHA-256 of prefix+data.
QByteArray record(const QByteArray& prefix, const QByteArray& data);
// Header, salt and `record` encrypted. Version 4 bodies have no padding: the record is filled
// up to whole blocks with bytes after the digest.
QByteArray stream(char version, const QByteArray& password, QByteArray record,
                  const QByteArray& salt = fixedSalt);
// The 48 bytes of key and IV of a version-6 stream, derived by python3-argon2 with the costs and
// salt of its header.
QByteArray argon2KeyOf(const QByteArray& stream, const QByteArray& password);
// A version-6 stream: Argon2id with these costs, and the header that names them.
QByteArray argon2Stream(const QByteArray& password, const QByteArray& record, quint32 memoryKiB,
                        quint32 passes, quint8 lanes, const QByteArray& salt = fixedSalt);

struct Record
{
    bool ok = false;
    qint64 total = 0;
    QByteArray prefix;
    QByteArray data;
    QByteArray digest;
    QByteArray rest;
};
// Opens a version-5 or version-6 stream and splits the record into its fields. A stream cut
// short (`whole` false) is opened as far as its whole blocks go, and its data end there.
Record open(const QByteArray& stream, const QByteArray& password, bool whole = true);

} // namespace OpensslStream
