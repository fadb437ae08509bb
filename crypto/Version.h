#pragma once

// The program's version; the same two numbers head every encrypted stream it writes.
namespace Version {
constexpr unsigned char major = 5;
constexpr unsigned char minor = 1;
} // namespace Version
