#include "PasswordReader.h"

#include "EchoOffTerminal.h"
#include "files/FileDescriptor.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <openssl/crypto.h>

PasswordReader::Status PasswordReader::fromTerminal(const char* prompt, SecureString& password)
{
    const FileDescriptor terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (terminal.get() < 0 || !isatty(terminal.get()))
        return Status::NoTerminal;
    // Echo goes off, and what was typed ahead is dropped, before the prompt appears: keys typed
    // as it appears are neither shown nor taken as the start of the password.
    const EchoOffTerminal quiet(terminal.get());
    if (!quiet.active())
        return Status::NoTerminal;
    [[maybe_unused]] const ssize_t written = write(terminal.get(), prompt, std::strlen(prompt));
    return readLine(terminal.get(), password) ? Status::Ok : Status::NoPassword;
}

PasswordReader::Status PasswordReader::fromDescriptor(int fd, SecureString& password)
{
    // Someone may point the descriptor at a terminal; it shows no password either.
    const EchoOffTerminal quiet(fd);
    return readLine(fd, password) ? Status::Ok : Status::NoPassword;
}

bool PasswordReader::readLine(int fd, SecureString& password)
{
    secureClear(password);
    // One byte at a time: nothing beyond the line is taken from the descriptor, so the rest of
    // it (say, the text for "new" after a password on standard input) stays for its reader.
    char byte = 0;
    bool anything = false;
    for (;;) {
        const ssize_t count = read(fd, &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            anything = false;
            secureClear(password);
            break;
        }
        if (count == 0)
            break;
        anything = true;
        if (byte == '\n')
            break;
        secureReserve(password, password.size() + 1);
        password.push_back(byte);
    }
    OPENSSL_cleanse(&byte, sizeof byte);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return anything;
}
