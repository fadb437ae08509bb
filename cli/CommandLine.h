#pragma once

#include "encryption/KeyDerivation.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The parsed arguments of varnisk-cli: one command, its file and the options. Options may
// stand before or after the command; "--" ends them, so a file may start with a dash.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    enum class Command
    {
        None,
        Help,
        Version,
        Encrypt,
        Decrypt,
        Show,
        New,
        Passphrase,
        Info
    };

    CommandLine();

    // `arguments` as the program got them, its own name first. Returns false and sets error()
    // on a usage error.
    bool parse(const QStringList& arguments);

    Command command() const { return parsedCommand; }
    const QString& file() const { return parsedFile; }
    // Empty when no -o was given; "-" means standard output.
    const QString& output() const { return parsedOutput; }
    bool force() const { return parser.isSet(forceOption); }
    // No progress line, even on a terminal.
    bool quiet() const { return parser.isSet(quietOption); }
    // -1 when the password comes from the terminal.
    int passwordFd() const { return parsedPasswordFd; }
    // The length of a generated passphrase, in words.
    int words() const { return parsedWords; }
    // What encrypt and new write with (--kdf).
    KeyDerivation derivation() const { return parsedDerivation; }
    const QString& error() const { return parseError; }

    static QString helpText();

private:
    bool checkOptions();
    bool checkPositionals();
    QString parserError(const QStringList& arguments) const;
    QString spelling(const QCommandLineOption& option) const;
    bool fail(const QString& message);

    const QCommandLineOption helpOption{{QStringLiteral("h"), QStringLiteral("help")}};
    const QCommandLineOption versionOption{QStringLiteral("version")};
    const QCommandLineOption forceOption{{QStringLiteral("f"), QStringLiteral("force")}};
    const QCommandLineOption quietOption{{QStringLiteral("q"), QStringLiteral("quiet")}};
    const QCommandLineOption outputOption{
        {QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("OUT")};
    const QCommandLineOption passwordFdOption{QStringLiteral("password-fd"), QString(),
                                              QStringLiteral("N")};
    const QCommandLineOption wordsOption{QStringLiteral("words"), QString(), QStringLiteral("N")};
    const QCommandLineOption kdfOption{QStringLiteral("kdf"), QString(), QStringLiteral("NAME")};
    QCommandLineParser parser;

    Command parsedCommand = Command::None;
    QString parsedFile;
    QString parsedOutput;
    int parsedPasswordFd = -1;
    int parsedWords = 0;
    KeyDerivation parsedDerivation = KeyDerivation::Pbkdf2;
    QString parseError;
};
