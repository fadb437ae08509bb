#pragma once

#include "SecureAllocator.h"

#include <string>

// A password's bytes (UTF-8, as typed). A standard string, so it is easy to use, whose heap
// buffer, once it outgrows the inline storage, comes from locked and wiped memory.
using SecureString = std::basic_string<char, std::char_traits<char>, SecureAllocator<char>>;

static_assert(sizeof(SecureString) == 32, "the string object must fit the holder's 32-byte region");

// Empties the string and wipes every byte it may have held: its whole buffer, and the inline
// storage of the string object, which keeps the head of a string that grew out of it.
void secureClear(SecureString& string) noexcept;

// Makes room for `size` bytes before the string grows: one that must grow moves to a fresh
// buffer, and the storage it leaves (its inline bytes included) is wiped. Call it before every
// insertion that may grow a string holding a secret.
void secureReserve(SecureString& string, std::size_t size);

// Same length and same bytes. The bytes are compared in constant time, one at a time, where
// they are: the time tells nothing about where two passwords differ, and no copy of them is
// left behind (the standard comparison's vector registers get spilled onto the stack later).
[[nodiscard]] bool secureEqual(const SecureString& first, const SecureString& second) noexcept;
