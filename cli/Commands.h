#pragma once

#include "CommandLine.h"
#include "ProgressLine.h"
#include "files/CryptoFile.h"
#include "messages/OutcomeMessage.h"

#include <QCoreApplication>

#include <functional>

class QFile;
class QIODevice;
class SecureStringHolder;
class StreamProgress;

// Carries out one parsed command line: asks for the password, runs the engine, and tells the
// outcome on standard error in the main window's words. Every method returns an ExitCode.
class Commands
{
    Q_DECLARE_TR_FUNCTIONS(Commands)

public:
    explicit Commands(const CommandLine& parsed) : line(parsed) {}
    int run() const;

private:
    int runCommand() const;
    int encrypt() const;
    int decrypt() const;
    // A .simg file without -o: the image is decrypted into memory and named as the main window
    // proposes it, `stem` with the extension its first bytes call for (photo.png).
    int decryptImage(QFile& input, const QString& stem) const;
    int decryptToStandardOutput(QFile& input) const;
    int show() const;
    int create() const;
    int passphrase() const;
    int info() const;

    // Encryption needs the input's length before it starts: a pipe or a device is refused.
    // Decryption reads whatever comes, and waits for a FIFO's writer as any command would.
    int openInput(QFile& input, bool needsLength = false) const;
    int checkTarget(const QString& target) const;
    AtomicFile::Options writeOptions() const;
    int askPassword(SecureStringHolder& password, bool confirm) const;
    // One line on standard error when `password` would not hold for long; the work goes on.
    void warnIfWeak(const SecureStringHolder& password, const QString& target) const;
    // Tells a failure on standard error and returns its exit code.
    int report(const Result& result, OutcomeMessage::Operation operation,
               const QString& target = {}) const;
    static int refuseExisting(const QString& target);

    // Runs one pass of the engine over `input`, with a progress line where one is wanted and
    // Ctrl-C cancelling it; a cancelled pass ends the program by that signal, once the output
    // has been cleaned up.
    Result stream(ProgressLine::Work work, const QIODevice& input, bool writesStandardOutput,
                  const std::function<Result(StreamProgress*)>& pass) const;
    static int fail(const QString& message, int exitCode);

    const CommandLine& line;
};
