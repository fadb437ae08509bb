#pragma once

#include "SecureAllocator.h"

#include <string>

// A password's bytes (UTF-8, as typed). A standard string, so it is easy to use, whose heap
// buffer, once it outgrows the inline storage, comes from locked and wiped memory.
using SecureString = std::basic_string<char, std::char_traits<char>, SecureAllocator<char>>;

static_assert(sizeof(SecureString) == 32, "the string object must fit the holder's 32-byte region");

// Empties the string and wipes the bytes it held; buffer and capacity are kept.
void secureClear(SecureString& string) noexcept;
