#include "CommandLine.h"

#include "passwords/PassphraseGenerator.h"

#include <algorithm>

namespace {

struct CommandName
{
    const char* word;
    CommandLine::Command command;
};

const CommandName commandNames[] = {
    {"encrypt", CommandLine::Command::Encrypt},
    {"decrypt", CommandLine::Command::Decrypt},
    {"show", CommandLine::Command::Show},
    {"new", CommandLine::Command::New},
    {"passphrase", CommandLine::Command::Passphrase},
    {"info", CommandLine::Command::Info},
};

// "o" and "output" as the user writes them.
QString dashed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The option names in one argument as QCommandLineParser reads them: "--force" holds "force",
// "-fq" holds "f" and "q".
QStringList namesIn(const QString& written)
{
    if (written.startsWith(QLatin1String("--")))
        return {written.mid(2)};
    QStringList names;
    for (const QChar letter : written.mid(1))
        names << letter;
    return names;
}

} // namespace

CommandLine::CommandLine()
{
    parser.addOptions({helpOption, versionOption, forceOption, quietOption, outputOption,
                       passwordFdOption, wordsOption, kdfOption});
}

bool CommandLine::parse(const QStringList& arguments)
{
    // A mistyped option beats a request for help: "-dash.txt" holds an h, and a script that
    // forgot "--" must not take the help text for a success.
    if (!parser.parse(arguments))
        return fail(parserError(arguments));
    // Otherwise help or the version is answered whatever else the line holds.
    if (parser.isSet(helpOption)) {
        parsedCommand = Command::Help;
        return true;
    }
    if (parser.isSet(versionOption)) {
        parsedCommand = Command::Version;
        return true;
    }
    return checkOptions() && checkPositionals();
}

bool CommandLine::checkOptions()
{
    const QStringList outputs = parser.values(outputOption);
    if (outputs.size() > 1)
        return fail(tr("The option %1 was given twice.").arg(spelling(outputOption)));
    parsedOutput = outputs.value(0);
    if (!outputs.isEmpty() && parsedOutput.isEmpty())
        return fail(tr("The option %1 needs a file name.").arg(spelling(outputOption)));
    for (const QString& value : parser.values(passwordFdOption)) {
        bool isNumber = false;
        parsedPasswordFd = value.toInt(&isNumber);
        if (!isNumber || parsedPasswordFd < 0)
            return fail(tr("The option --password-fd needs a file descriptor number."));
    }
    parsedWords = PassphraseGenerator::minimumWords;
    for (const QString& value : parser.values(wordsOption)) {
        bool isNumber = false;
        parsedWords = value.toInt(&isNumber);
        if (!isNumber || parsedWords < PassphraseGenerator::minimumWords ||
            parsedWords > PassphraseGenerator::maximumWords)
            return fail(tr("The option --words needs a number from %1 to %2.")
                            .arg(PassphraseGenerator::minimumWords)
                            .arg(PassphraseGenerator::maximumWords));
    }
    for (const QString& value : parser.values(kdfOption)) {
        if (value == QLatin1String("pbkdf2"))
            parsedDerivation = KeyDerivation::Pbkdf2;
        else if (value == QLatin1String("argon2id"))
            parsedDerivation = KeyDerivation::Argon2id;
        else
            return fail(tr("The option --kdf needs pbkdf2 or argon2id."));
    }
    return true;
}

bool CommandLine::checkPositionals()
{
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(tr("No command given."));
    const QString word = positional.takeFirst();
    for (const CommandName& entry : commandNames) {
        if (word == QLatin1String(entry.word))
            parsedCommand = entry.command;
    }
    if (parsedCommand == Command::None)
        return fail(tr("Unknown command: %1").arg(word));
    if (parser.isSet(wordsOption) && parsedCommand != Command::Passphrase)
        return fail(tr("The option --words is for passphrase only."));
    if (parser.isSet(kdfOption) && parsedCommand != Command::Encrypt &&
        parsedCommand != Command::New)
        return fail(tr("The option --kdf is for encrypt and new only."));
    if (parsedCommand == Command::Passphrase) {
        if (!positional.isEmpty())
            return fail(tr("The command passphrase takes no file."));
        return !parser.isSet(outputOption) ||
               fail(tr("The option -o is for encrypt and decrypt only."));
    }
    if (positional.isEmpty())
        return fail(tr("No file given."));
    if (positional.size() > 1)
        return fail(tr("Only one file can be given."));
    parsedFile = positional.first();
    if (parsedFile.isEmpty())
        return fail(tr("The file name is empty."));

    const bool writesFile = parsedCommand == Command::Encrypt || parsedCommand == Command::Decrypt;
    if (parser.isSet(outputOption) && !writesFile)
        return fail(tr("The option -o is for encrypt and decrypt only."));
    if (parsedOutput == QLatin1String("-") && parsedCommand != Command::Decrypt)
        return fail(tr("Only decrypt can write to standard output (-o -)."));
    return true;
}

// QCommandLineParser words its errors itself and names options without their dashes; ours
// name the option as it was written, never with its value (it may be a mistyped password).
QString CommandLine::parserError(const QStringList& arguments) const
{
    // Every argument is searched, as a "--" may be the value of -o; the one at fault comes
    // before a "--" that ends the options.
    const QString unknown = parser.unknownOptionNames().value(0);
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.startsWith('-'))
            continue;
        const QString written = argument.section('=', 0, 0);
        const QStringList names = namesIn(written);
        if (!unknown.isEmpty() && names.contains(unknown))
            return tr("Unknown option: %1").arg(written);
        const bool takesValue = std::any_of(names.cbegin(), names.cend(), [&](const QString& name) {
            return outputOption.names().contains(name) || passwordFdOption.names().contains(name) ||
                   wordsOption.names().contains(name) || kdfOption.names().contains(name);
        });
        if (unknown.isEmpty() && written != argument && !takesValue)
            return tr("The option %1 takes no value.").arg(written);
    }
    // Else a value is missing, which only the last argument can lack.
    return tr("The option %1 needs a value.").arg(arguments.last());
}

// The option's name as the user wrote it last.
QString CommandLine::spelling(const QCommandLineOption& option) const
{
    const QStringList found = parser.optionNames();
    for (auto name = found.crbegin(); name != found.crend(); ++name) {
        if (option.names().contains(*name))
            return dashed(*name);
    }
    return dashed(option.names().constLast());
}

bool CommandLine::fail(const QString& message)
{
    parseError = message;
    return false;
}

QString CommandLine::helpText()
{
    return tr("Usage: varnisk-cli COMMAND [OPTIONS] FILE\n"
              "       varnisk-cli passphrase [--words N]\n"
              "\n"
              "Encrypts and decrypts Varnisk files (.stxt secrets documents, .sdat data files,\n"
              ".simg images) on the command line.\n"
              "\n"
              "Commands:\n"
              "  encrypt FILE [-o OUT]   encrypt FILE into OUT (default: FILE.sdat)\n"
              "  decrypt FILE [-o OUT]   decrypt FILE into OUT (default: FILE without its last\n"
              "                          suffix, and for a .simg image the extension its first\n"
              "                          bytes call for: photo.simg gives photo.png); -o -\n"
              "                          writes the plaintext to standard output\n"
              "  show DOC.stxt           print the text of a secrets document\n"
              "  new DOC.stxt            write a secrets document holding the text read from\n"
              "                          standard input\n"
              "  passphrase              print a new passphrase of random common words, from\n"
              "                          the German list when the locale is German, else\n"
              "                          from the English one\n"
              "  info FILE               print the format version of an encrypted file and\n"
              "                          the costs of its key derivation (no password asked)\n"
              "\n"
              "Options:\n"
              "  -o, --output OUT        the file to write\n"
              "  -f, --force             replace an existing output file\n"
              "  -q, --quiet             show no progress line\n"
              "  --password-fd N         read the password from the first line of file\n"
              "                          descriptor N (its line ending is not part of it);\n"
              "                          without it the password is asked on the terminal, twice\n"
              "                          for encrypt and new\n"
              "  --words N               the number of words of a passphrase, 6 (the\n"
              "                          default) to 20\n"
              "  --kdf NAME              the key derivation of encrypt and new: pbkdf2 (the\n"
              "                          default, format version 5, which every Varnisk\n"
              "                          opens) or argon2id (version 6: Argon2id with\n"
              "                          256 MiB and 3 passes; earlier releases of Varnisk\n"
              "                          cannot open it)\n"
              "  -h, --help              show this help\n"
              "  --version               show the version\n"
              "\n"
              "Options may stand before or after the command; -- ends them, so a file name may\n"
              "begin with a dash.\n"
              "\n"
              "Passwords are never taken from arguments or environment variables.\n"
              "encrypt and new print a warning on standard error (and go on) when one\n"
              "graphics card would guess the password within 10 years: the key derivation\n"
              "of version 5 (PBKDF2-HMAC-SHA1, 1,000 iterations) lets it try about 10 million\n"
              "passwords a second, that of version 6 (--kdf argon2id) about 10,000.\n"
              "A passphrase of six random words holds for ages.\n"
              "An output file is written under a temporary name, synced, and renamed into\n"
              "place only once it is complete (and, when decrypting, verified), so a failure\n"
              "leaves any existing file as it was. A symbolic link counts as an existing\n"
              "file; --force replaces the link itself, not the file it points to. The output\n"
              "may never be the input file. New files can be read by their owner only.\n"
              "\n"
              "While a large file is encrypted or decrypted, a line on standard error shows\n"
              "how far it is (only when standard error is a terminal). Ctrl-C stops the work\n"
              "and leaves an existing output file as it was.\n"
              "\n"
              "decrypt -o - checks the file's digest in a first pass and writes only verified\n"
              "plaintext to standard output in a second pass. If the input cannot be read\n"
              "twice (a pipe), or changes between the passes, the data is written as it is\n"
              "decrypted; when the check then fails, the message says so and the exit code is\n"
              "not 0: discard what was written.\n"
              "\n"
              "Exit codes:\n"
              "  0  success\n"
              "  1  wrong password, corrupted or unsupported file, or unverified output\n"
              "  2  usage error: bad arguments, an existing output without --force, the\n"
              "     output is the input, passwords that don't match, no password given\n"
              "  3  input/output error: a missing file, or one that cannot be read or written\n"
              "     (a full disk, a file-size limit, standard output closed)\n"
              "A reader that stops early (show DOC.stxt | head -1) is no error: the program\n"
              "then ends quietly by SIGPIPE, as cat does (a shell reports 141).\n");
}
