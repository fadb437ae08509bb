#pragma once

#include "securememory/SecureString.h"

// Reads a password byte by byte straight into a SecureString, so that it never passes through
// an ordinary string: from the terminal with echo off, or from the first line of a file
// descriptor given by a script.
class PasswordReader
{
public:
    enum class Status
    {
        Ok,
        NoTerminal, // there is no terminal to ask on
        NoPassword, // the source ended before it delivered anything, or could not be read
    };

    // Writes `prompt` to the terminal and reads one line with echo off.
    static Status fromTerminal(const char* prompt, SecureString& password);
    // Reads up to the first "\n" (a "\r" before it is dropped too); an end of input ends the
    // password as well, but only once it has at least its line ending or one byte.
    static Status fromDescriptor(int fd, SecureString& password);

private:
    // Appends the bytes of one line of `fd` to `password`; false when nothing at all came.
    static bool readLine(int fd, SecureString& password);
};
