#pragma once

#include "files/FileIdentity.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The recovery file of a document: the unsaved text of a window that was ended by a signal,
// beside the document as ".NAME.recovery" (hidden, and not ".stxt", so no Open dialog lists it).
//
// It is a small plain header followed by an ordinary encrypted document stream under the
// document's own password, exactly as the document itself would be written: so it is as safe as
// the document, any reader of the format opens it after the header, and the format stays as it
// is. The header says what the file is and which version of the document the text was based on
// (device, inode, size, modification time and SHA-256 of the encrypted file, none of it secret),
// so that the next save can tell whether the document was changed meanwhile:
//
//   Varnisk recovery file
//   base: 2049 1835021 4711 1733590000123456789 <64 hex digits>      (or "base: none")
//   <empty line>
//   <encrypted stream>
class RecoveryFile
{
public:
    static QString pathFor(const QString& documentPath);

    // The whole file for the encrypted document `stream`, based on `base`.
    static QByteArray compose(const FileIdentity& base, const QByteArray& stream);

    // A recovery file read back. `valid` is false when the file is not one.
    struct Content
    {
        bool valid = false;
        FileIdentity base;
        QByteArray stream;
        QDateTime written;    // the file's modification time
        qint64 writtenNs = 0; // the same, in nanoseconds since the epoch
    };
    static Content read(const QString& path);
};
