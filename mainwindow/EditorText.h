#pragma once

#include <QByteArray>

class QPlainTextEdit;

// A document's text in the form the editor holds it. The editor keeps no line ending of its own
// (CRLF, a lone CR and the Unicode line and paragraph separators all become line breaks) and
// turns no-break spaces into spaces, so a version read from disk is compared with the editor's
// text, or with what a save wrote, only in this form. Every text returned is fresh UTF-8 that the
// caller wipes after use.
class EditorText
{
public:
    // The editor's text, as a save writes it.
    [[nodiscard]] static QByteArray of(const QPlainTextEdit& editor);
    // `plain` (a decrypted version) as the editor would show it, and a save then write it: up to
    // its first zero byte, as an open shows it.
    [[nodiscard]] static QByteArray asShown(const QByteArray& plain);
};
