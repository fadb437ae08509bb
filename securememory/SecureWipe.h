#pragma once

#include <type_traits>

class QByteArray;
class QString;

// Holds for a type that can be neither copied nor copy-assigned. Every type that wipes in its
// destructor must be such a type: a copy would keep the bytes and never wipe them. Each one
// states it beside its definition: static_assert(isUncopyable<Type>).
template <typename T>
constexpr bool isUncopyable = !std::is_copy_constructible_v<T> && !std::is_copy_assignable_v<T>;

// Overwrites the bytes of a buffer that held a secret or document text, then empties it. The
// bytes are overwritten where they are, so copies that share the buffer (Qt's implicit
// sharing) are wiped as well: call it only when every such copy is done with, and never on a
// string handed to Qt (a text document may keep sharing it). The processor's vector registers,
// which the last copy or search of the text went through, are zeroed as well.
void secureWipe(QByteArray& bytes) noexcept;
void secureWipe(QString& text) noexcept;

// Overwrites the stack below the caller's frame, and the vector registers: the locals that the
// functions it called left behind there (the cipher's and the digest's working blocks,
// registers they saved) die with those functions, but their bytes stay until something else
// runs that deep. Reaches 256 KiB down, so it is for threads with a normal-size stack.
void secureWipeStack() noexcept;
