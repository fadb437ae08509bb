#pragma once

// What varnisk-cli tells its caller; the same numbers are listed in --help and the README.
namespace ExitCode {
enum : int
{
    Success = 0,
    BadFile = 1,     // wrong password, corrupt or unsupported file, unverified output
    Usage = 2,       // bad arguments, refused target, passwords that differ, no password source
    InputOutput = 3, // a file that is missing or cannot be read or written
};
} // namespace ExitCode
