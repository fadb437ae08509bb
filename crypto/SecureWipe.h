#pragma once

class QByteArray;
class QString;

// Overwrites the bytes of a buffer that held a secret or document text, then empties it. The
// bytes are overwritten where they are, so copies that share the buffer (Qt's implicit
// sharing) are wiped as well: call it only when every such copy is done with.
void secureWipe(QByteArray& bytes) noexcept;
void secureWipe(QString& text) noexcept;
