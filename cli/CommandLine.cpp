#include "CommandLine.h"

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
};

} // namespace

bool CommandLine::parse(const QStringList& arguments)
{
    QStringList positional;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith('-')) {
            positional << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // Long options accept their value as "--name=value" as well as in the next argument.
        const int equals = argument.startsWith(QLatin1String("--")) ? argument.indexOf('=') : -1;
        const QString name = equals < 0 ? argument : argument.left(equals);
        const QString inlineValue = equals < 0 ? QString() : argument.mid(equals + 1);
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            parsedCommand = Command::Help;
            return true;
        }
        if (name == QLatin1String("--version")) {
            parsedCommand = Command::Version;
            return true;
        }
        if (name == QLatin1String("-f") || name == QLatin1String("--force")) {
            if (equals >= 0)
                return fail(tr("The option %1 takes no value.").arg(name));
            parsedForce = true;
        } else if (name == QLatin1String("-q") || name == QLatin1String("--quiet")) {
            if (equals >= 0)
                return fail(tr("The option %1 takes no value.").arg(name));
            parsedQuiet = true;
        } else if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
            if (outputGiven)
                return fail(tr("The option %1 was given twice.").arg(name));
            if (!takeValue(arguments, i, name, inlineValue, equals >= 0, parsedOutput))
                return false;
            if (parsedOutput.isEmpty())
                return fail(tr("The option %1 needs a file name.").arg(name));
            outputGiven = true;
        } else if (name == QLatin1String("--password-fd")) {
            QString value;
            if (!takeValue(arguments, i, name, inlineValue, equals >= 0, value))
                return false;
            bool isNumber = false;
            const int fd = value.toInt(&isNumber);
            if (!isNumber || fd < 0)
                return fail(tr("The option --password-fd needs a file descriptor number."));
            parsedPasswordFd = fd;
        } else {
            return fail(tr("Unknown option: %1").arg(argument));
        }
    }

    if (positional.isEmpty())
        return fail(tr("No command given."));
    if (!setCommand(positional.takeFirst()))
        return false;
    if (positional.isEmpty())
        return fail(tr("No file given."));
    if (positional.size() > 1)
        return fail(tr("Only one file can be given."));
    parsedFile = positional.first();
    if (parsedFile.isEmpty())
        return fail(tr("The file name is empty."));

    if (outputGiven && (parsedCommand == Command::Show || parsedCommand == Command::New))
        return fail(tr("The option -o is for encrypt and decrypt only."));
    if (parsedOutput == QLatin1String("-") && parsedCommand != Command::Decrypt)
        return fail(tr("Only decrypt can write to standard output (-o -)."));
    return true;
}

bool CommandLine::takeValue(const QStringList& arguments, int& index, const QString& name,
                            const QString& inlineValue, bool hasInline, QString& value)
{
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (index + 1 >= arguments.size())
        return fail(tr("The option %1 needs a value.").arg(name));
    value = arguments.at(++index);
    return true;
}

bool CommandLine::setCommand(const QString& word)
{
    for (const CommandName& entry : commandNames) {
        if (word == QLatin1String(entry.word)) {
            parsedCommand = entry.command;
            return true;
        }
    }
    return fail(tr("Unknown command: %1").arg(word));
}

bool CommandLine::fail(const QString& message)
{
    parseError = message;
    return false;
}

QString CommandLine::helpText()
{
    return tr("Usage: varnisk-cli COMMAND [OPTIONS] FILE\n"
              "\n"
              "Encrypts and decrypts Varnisk files (.stxt secrets documents, .sdat data files,\n"
              ".simg images) on the command line.\n"
              "\n"
              "Commands:\n"
              "  encrypt FILE [-o OUT]   encrypt FILE into OUT (default: FILE.sdat)\n"
              "  decrypt FILE [-o OUT]   decrypt FILE into OUT (default: FILE without its last\n"
              "                          suffix); -o - writes the plaintext to standard output\n"
              "  show DOC.stxt           print the text of a secrets document\n"
              "  new DOC.stxt            write a secrets document holding the text read from\n"
              "                          standard input\n"
              "\n"
              "Options:\n"
              "  -o, --output OUT        the file to write\n"
              "  -f, --force             replace an existing output file\n"
              "  -q, --quiet             show no progress line\n"
              "  --password-fd N         read the password from the first line of file\n"
              "                          descriptor N (its line ending is not part of it);\n"
              "                          without it the password is asked on the terminal, twice\n"
              "                          for encrypt and new\n"
              "  -h, --help              show this help\n"
              "  --version               show the version\n"
              "\n"
              "Passwords are never taken from arguments or environment variables.\n"
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
              "     (a full disk, a file-size limit, standard output closed early)\n");
}
