#pragma once

#include "files/FileIdentity.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The recovery files of a document: the unsaved text of a window that was ended by a signal or
// lost its display, beside the document as ".NAME.ID.recovery" (hidden, and not ".stxt", so no
// Open dialog lists it). ID tells the processes apart (host, process number and a random part,
// which also keeps apart two processes of one number in different namespaces), so that two
// processes editing one document never write over each other's recovery.
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
    // This process's recovery file for the document; `attempt` > 0 gives another name of the
    // same kind, for when something that is not ours holds the usual one.
    static QString pathFor(const QString& documentPath, int attempt = 0);

    // The whole file for the encrypted document `stream`, based on `base`.
    static QByteArray compose(const FileIdentity& base, const QByteArray& stream);

    // A recovery file read back. `valid` is false when the file is not one, or not one to offer:
    // not a regular file of this user's (a link, a file someone else put there), or larger than
    // any document the editor takes.
    struct Content
    {
        bool valid = false;
        QString path;
        FileIdentity base;
        QByteArray stream;
        QDateTime written;    // the file's modification time
        qint64 writtenNs = 0; // the same, in nanoseconds since the epoch
    };
    static Content read(const QString& path);
    // Every valid recovery file of the document, of any process (also the ".NAME.recovery" of
    // earlier versions), newest first.
    static QList<Content> allFor(const QString& documentPath);
    // Removes the file at `path` if it is a regular file of this user's.
    static void remove(const QString& path);
};
