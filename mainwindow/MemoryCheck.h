#pragma once

#include <QtGlobal>

// Tells beforehand whether a large piece of work can get its memory. Our own buffers report a
// failed allocation as an exception the operation catches; Qt's text widgets do not, they end
// the program, and every other window's unsaved edits with it. So a large text is handed to Qt
// only after the system has granted (and at once taken back) room for it and its layout.
class MemoryCheck
{
public:
    // Room for `bytes` more right now: address space (a memory limit such as `ulimit -v`) and
    // what the kernel is willing to commit.
    [[nodiscard]] static bool roomFor(qint64 bytes);
    // Room for showing a text of `utf8Bytes` in the editor: its UTF-16 copies, the document's
    // blocks and layouts, and the undo history's first entry.
    [[nodiscard]] static bool roomForText(qint64 utf8Bytes);
};
