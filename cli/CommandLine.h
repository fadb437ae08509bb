#pragma once

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
        New
    };

    // `arguments` without the program name. Returns false and sets error() on a usage error.
    bool parse(const QStringList& arguments);

    Command command() const { return parsedCommand; }
    const QString& file() const { return parsedFile; }
    // Empty when no -o was given; "-" means standard output.
    const QString& output() const { return parsedOutput; }
    bool force() const { return parsedForce; }
    // No progress line, even on a terminal.
    bool quiet() const { return parsedQuiet; }
    // -1 when the password comes from the terminal.
    int passwordFd() const { return parsedPasswordFd; }
    const QString& error() const { return parseError; }

    static QString helpText();

private:
    bool takeValue(const QStringList& arguments, int& index, const QString& name,
                   const QString& inlineValue, bool hasInline, QString& value);
    bool setCommand(const QString& word);
    bool fail(const QString& message);

    Command parsedCommand = Command::None;
    QString parsedFile;
    QString parsedOutput;
    bool parsedForce = false;
    bool parsedQuiet = false;
    bool outputGiven = false;
    int parsedPasswordFd = -1;
    QString parseError;
};
