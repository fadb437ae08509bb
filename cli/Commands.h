#pragma once

#include "CommandLine.h"
#include "CryptoFile.h"
#include "OutcomeMessage.h"

#include <QCoreApplication>

class QFile;
class QIODevice;
class SecureStringHolder;

// Carries out one parsed command line: asks for the password, runs the engine, and tells the
// outcome on standard error in the main window's words. Every method returns an ExitCode.
class Commands
{
    Q_DECLARE_TR_FUNCTIONS(Commands)

public:
    explicit Commands(const CommandLine& parsed) : line(parsed) {}
    int run() const;

private:
    int encrypt() const;
    int decrypt() const;
    int decryptToStandardOutput(QFile& input) const;
    int show() const;
    int create() const;

    int openInput(QFile& input) const;
    int checkTarget(const QString& target) const;
    int askPassword(SecureStringHolder& password, bool confirm) const;
    // Tells a failure on standard error and returns its exit code.
    int report(const CryptoFile::Result& result, OutcomeMessage::Operation operation) const;

    // Runs the decryption between two devices, with CryptoFile's way of telling the outcome.
    static CryptoFile::Result decryptBetween(QIODevice& source, QIODevice& target,
                                             const SecureStringHolder& password);
    static int fail(const QString& message, int exitCode);

    const CommandLine& line;
};
