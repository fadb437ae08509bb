#include "Commands.h"

#include "CancelOnSignal.h"
#include "ExitCode.h"
#include "NullDevice.h"
#include "PasswordReader.h"
#include "StandardOutput.h"
#include "Version.h"
#include "encryption/StreamCipher.h"
#include "encryption/StreamHeader.h"
#include "encryption/StreamKey.h"
#include "encryption/StreamProgress.h"
#include "files/ImageFormat.h"
#include "messages/OutcomeMessage.h"
#include "passwords/PassphraseGenerator.h"
#include "passwords/PasswordStrength.h"
#include "securememory/LockedMemory.h"
#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Outcome = Result::Outcome;
using Operation = OutcomeMessage::Operation;

int exitCodeOf(const Result& result, Operation operation)
{
    switch (result.outcome) {
    case Outcome::Success:
        return ExitCode::Success;
    case Outcome::WrongPassword:
    case Outcome::VersionTooOld:
    case Outcome::VersionTooNew:
        return ExitCode::BadFile;
    case Outcome::Failed:
    case Outcome::UnknownError:
        // The stream format refusing a file it reads is the file's fault; refusing what it
        // writes is the input's or the disk's.
        return operation == Operation::Decrypt ? ExitCode::BadFile : ExitCode::InputOutput;
    case Outcome::NotFound:
    case Outcome::CannotRead:
    case Outcome::Exists: // worded and counted as the refusal before the work
    case Outcome::CannotWrite:
    case Outcome::Changed:
    case Outcome::OutOfMemory:
    case Outcome::SaveFailed:
    case Outcome::NotSynced:
    case Outcome::Damaged:
    case Outcome::Cancelled: // by a signal, which ends the program before it gets here
        break;
    }
    return ExitCode::InputOutput;
}

void printTo(std::FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Reads standard input to its end. The buffer grows by copying and wiping, so no stray copy of
// the text is left in freed memory.
bool readStandardInput(QByteArray& text)
{
    QByteArray buffer(64 * 1024, '\0');
    qint64 used = 0;
    for (;;) {
        if (used == buffer.size()) {
            QByteArray larger(buffer.size() * 2, '\0');
            std::memcpy(larger.data(), buffer.constData(), static_cast<std::size_t>(used));
            secureWipe(buffer);
            buffer.swap(larger);
        }
        const ssize_t count = read(STDIN_FILENO, buffer.data() + used,
                                   static_cast<std::size_t>(buffer.size() - used));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            secureWipe(buffer);
            return false;
        }
        if (count == 0)
            break;
        used += count;
    }
    text = buffer.left(static_cast<int>(used));
    secureWipe(buffer);
    return true;
}

// Standard output is the input file itself (say, "-o - >> FILE").
bool standardOutputIs(const QString& path)
{
    struct stat output = {};
    struct stat input = {};
    if (fstat(STDOUT_FILENO, &output) != 0 || stat(QFile::encodeName(path).constData(), &input))
        return false;
    return output.st_dev == input.st_dev && output.st_ino == input.st_ino;
}

} // namespace

int Commands::run() const
{
    // Running out of memory is an ordinary failure: what was being written is discarded on the
    // way out, and the reason is told.
    try {
        return runCommand();
    } catch (const std::bad_alloc&) {
        return report(Result::outOfMemory(), Operation::Decrypt);
    }
}

int Commands::runCommand() const
{
    const CommandLine::Command command = line.command();
    if (command != CommandLine::Command::Help && command != CommandLine::Command::Version &&
        LockedMemory::lockingFailed())
        printTo(stderr, OutcomeMessage::memoryNotLocked());
    switch (command) {
    case CommandLine::Command::Help:
        std::fputs(CommandLine::helpText().toUtf8().constData(), stdout);
        return ExitCode::Success;
    case CommandLine::Command::Version:
        std::printf("varnisk-cli %u.%u\n", static_cast<unsigned>(Version::major),
                    static_cast<unsigned>(Version::minor));
        return ExitCode::Success;
    case CommandLine::Command::Encrypt:
        return encrypt();
    case CommandLine::Command::Decrypt:
        return decrypt();
    case CommandLine::Command::Show:
        return show();
    case CommandLine::Command::New:
        return create();
    case CommandLine::Command::Passphrase:
        return passphrase();
    case CommandLine::Command::Info:
        return info();
    case CommandLine::Command::None:
        break;
    }
    return ExitCode::Usage;
}

int Commands::encrypt() const
{
    QFile input(line.file());
    if (const int failed = openInput(input, true))
        return failed;
    const QString target =
        line.output().isEmpty() ? line.file() + QLatin1String(".sdat") : line.output();
    if (const int refused = checkTarget(target))
        return refused;
    SecureStringHolder password;
    if (const int noPassword = askPassword(password, true))
        return noPassword;
    warnIfWeak(password, target);
    const auto length = static_cast<quint64>(input.size());
    return report(stream(ProgressLine::Work::Encrypting, input, false,
                         [&](StreamProgress* progress) {
                             return CryptoFile::encrypt(input, length, target, password,
                                                        writeOptions(), progress,
                                                        line.derivation());
                         }),
                  Operation::Encrypt, target);
}

int Commands::decrypt() const
{
    QFile input(line.file());
    if (const int failed = openInput(input))
        return failed;
    QString target = line.output();
    if (target.isEmpty()) {
        // report.pdf.sdat gives report.pdf, as in the main window.
        const QString suffix = QFileInfo(line.file()).suffix();
        if (suffix.isEmpty())
            return fail(
                tr("%1 has no suffix to take off; name the output with -o.").arg(line.file()),
                ExitCode::Usage);
        target = line.file().left(line.file().size() - suffix.size() - 1);
        if (suffix == QLatin1String("simg"))
            return decryptImage(input, target);
    }
    if (target == QLatin1String("-"))
        return decryptToStandardOutput(input);
    if (const int refused = checkTarget(target))
        return refused;
    SecureStringHolder password;
    if (const int noPassword = askPassword(password, false))
        return noPassword;
    return report(stream(ProgressLine::Work::Decrypting, input, false,
                         [&](StreamProgress* progress) {
                             return CryptoFile::decrypt(input, target, password, progress,
                                                        writeOptions());
                         }),
                  Operation::Decrypt, target);
}

int Commands::decryptImage(QFile& input, const QString& stem) const
{
    SecureStringHolder password;
    if (const int noPassword = askPassword(password, false))
        return noPassword;
    QByteArray image;
    const Result read =
        stream(ProgressLine::Work::Decrypting, input, false, [&](StreamProgress* progress) {
            return StreamCipher::decrypt(input, image, password, progress);
        });
    if (!read.ok())
        return report(read, Operation::Decrypt);
    int exitCode = ExitCode::Success;
    if (const ImageFormat* format = ImageFormat::detect(image)) {
        const QString target = stem + QLatin1String(format->extension);
        exitCode = checkTarget(target);
        if (exitCode == ExitCode::Success)
            exitCode = report(CryptoFile::write(image, target, writeOptions()), Operation::Decrypt,
                              target);
    } else {
        exitCode =
            fail(tr("Image format not recognized! Name the output with -o."), ExitCode::BadFile);
    }
    secureWipe(image);
    return exitCode;
}

int Commands::decryptToStandardOutput(QFile& input) const
{
    if (standardOutputIs(line.file()))
        return fail(tr("The target is the source file itself!"), ExitCode::Usage);
    SecureStringHolder password;
    if (const int noPassword = askPassword(password, false))
        return noPassword;

    // Standard output cannot be replaced afterwards like a file, so a first pass checks the
    // digest without writing anything, and only a file that passed is written out. Both passes
    // use the key derived by the first.
    StreamKey key(password);
    if (!input.isSequential()) {
        NullDevice sink;
        sink.open(QIODevice::WriteOnly);
        const Result check =
            stream(ProgressLine::Work::Verifying, input, false, [&](StreamProgress* progress) {
                return StreamCipher::decrypt(input, sink, key, progress);
            });
        if (!check.ok())
            return report(check, Operation::Decrypt);
        if (!input.seek(0))
            return report({Outcome::CannotRead, {}}, Operation::Decrypt);
    }

    StandardOutput output;
    output.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    Result written =
        stream(ProgressLine::Work::Decrypting, input, true, [&](StreamProgress* progress) {
            return StreamCipher::decrypt(input, output, key, progress);
        });
    if (written.ok()) {
        if (const int error = StandardOutput::sync())
            written = {Outcome::SaveFailed, qt_error_string(error)};
    } else {
        StandardOutput::endIfReaderLeft();
    }
    const int exitCode = report(written, Operation::Decrypt);
    if (!written.ok() && written.outcome != Outcome::SaveFailed)
        printTo(stderr, tr("Anything written to standard output is unverified: discard it."));
    return exitCode;
}

int Commands::show() const
{
    QFile input(line.file());
    if (const int failed = openInput(input))
        return failed;
    SecureStringHolder password;
    if (const int noPassword = askPassword(password, false))
        return noPassword;
    QByteArray plain;
    const Result read = StreamCipher::decrypt(input, plain, password);
    if (!read.ok())
        return report(read, Operation::Decrypt);
    // The document's bytes exactly as stored, a zero byte and what follows it included: a filter
    // must not lose any of them without a word.
    int error = StandardOutput::writeAll(plain.constData(), plain.size());
    secureWipe(plain);
    if (error == 0)
        error = StandardOutput::sync();
    if (error != 0) {
        StandardOutput::endIfReaderLeft();
        return report({Outcome::SaveFailed, qt_error_string(error)}, Operation::Decrypt);
    }
    return ExitCode::Success;
}

int Commands::create() const
{
    if (const int refused = checkTarget(line.file()))
        return refused;
    SecureStringHolder password;
    if (const int noPassword = askPassword(password, true))
        return noPassword;
    warnIfWeak(password, line.file());
    if (isatty(STDIN_FILENO))
        printTo(stderr, tr("Type the text, then Ctrl-D on a line of its own:"));
    QByteArray text;
    if (!readStandardInput(text))
        return report({Outcome::CannotRead, {}}, Operation::Decrypt);
    if (text.contains('\0')) {
        secureWipe(text);
        return fail(tr("The text holds a zero byte, where a secrets document's text would end; "
                       "nothing was written."),
                    ExitCode::Usage);
    }
    QBuffer source(&text);
    source.open(QIODevice::ReadOnly);
    const Result written =
        stream(ProgressLine::Work::Encrypting, source, false, [&](StreamProgress* progress) {
            return CryptoFile::encrypt(source, static_cast<quint64>(text.size()), line.file(),
                                       password, writeOptions(), progress, line.derivation());
        });
    source.close();
    secureWipe(text);
    return report(written, Operation::Encrypt, line.file());
}

int Commands::passphrase() const
{
    SecureStringHolder words;
    if (!PassphraseGenerator::generate(words.string(), line.words(),
                                       PassphraseGenerator::languageOf(QLocale())))
        return fail(PassphraseGenerator::failureText(), ExitCode::InputOutput);
    words.string() += '\n';
    int error =
        StandardOutput::writeAll(words.string().data(), static_cast<qint64>(words.string().size()));
    if (error == 0)
        error = StandardOutput::sync();
    if (error != 0)
        return fail(tr("Error writing to standard output: %1").arg(qt_error_string(error)),
                    ExitCode::InputOutput);
    return ExitCode::Success;
}

int Commands::info() const
{
    QFile input(line.file());
    if (const int failed = openInput(input))
        return failed;
    StreamHeader header;
    if (const Result read = StreamCipher::readHeader(input, header); !read.ok())
        return report(read, Operation::Decrypt);
    QString derivation;
    if (header.derivation() == KeyDerivation::Argon2id) {
        const Argon2id::Costs& costs = header.costs();
        derivation = tr("Argon2id (version 1.3), memory %1 KiB, passes %2, lanes %3")
                         .arg(costs.memoryKiB)
                         .arg(costs.passes)
                         .arg(costs.lanes);
    } else {
        derivation = tr("PBKDF2-HMAC-SHA1, 1000 iterations");
    }
    std::printf("%s\n%s\n", tr("format version: %1").arg(header.version()).toUtf8().constData(),
                tr("key derivation: %1").arg(derivation).toUtf8().constData());
    return std::fflush(stdout) == 0
               ? ExitCode::Success
               : report({Outcome::SaveFailed, qt_error_string(errno)}, Operation::Decrypt);
}

int Commands::openInput(QFile& input, bool needsLength) const
{
    if (!input.exists())
        return report({Outcome::NotFound, {}}, Operation::Decrypt);
    const QFileInfo info(input);
    if (needsLength && !info.isFile() && !info.isDir())
        return fail(tr("%1 is not a regular file: only a file whose length is known in advance "
                       "can be encrypted.")
                        .arg(line.file()),
                    ExitCode::Usage);
    const bool opened = needsLength ? CryptoFile::openInput(input, CryptoFile::Input::RegularFile)
                                    : !info.isDir() && input.open(QIODevice::ReadOnly);
    if (!opened)
        return report({Outcome::CannotRead, {}}, Operation::Decrypt);
    return ExitCode::Success;
}

int Commands::checkTarget(const QString& target) const
{
    if (CryptoFile::sameFile(line.file(), target) && line.command() != CommandLine::Command::New)
        return fail(tr("The target is the source file itself!"), ExitCode::Usage);
    // A link counts as a file even when it leads nowhere: --force replaces the link itself.
    if (CryptoFile::targetExists(target) && !line.force())
        return refuseExisting(target);
    if (const Result replaceable = AtomicFile::checkReplaceable(target); !replaceable.ok())
        return report(replaceable, Operation::Encrypt);
    return ExitCode::Success;
}

AtomicFile::Options Commands::writeOptions() const
{
    // Without --force, an output that appears while the work runs is not replaced either.
    AtomicFile::Options options;
    options.replaceExisting = line.force();
    return options;
}

int Commands::askPassword(SecureStringHolder& password, bool confirm) const
{
    if (line.passwordFd() >= 0) {
        if (PasswordReader::fromDescriptor(line.passwordFd(), password.string()) ==
            PasswordReader::Status::Ok)
            return ExitCode::Success;
        return fail(tr("No password could be read from file descriptor %1!").arg(line.passwordFd()),
                    ExitCode::Usage);
    }
    const PasswordReader::Status status =
        PasswordReader::fromTerminal(tr("Password: ").toUtf8().constData(), password.string());
    if (status == PasswordReader::Status::NoTerminal)
        return fail(tr("There is no terminal to ask for the password; give it with "
                       "--password-fd N."),
                    ExitCode::Usage);
    if (status != PasswordReader::Status::Ok)
        return fail(tr("No password given."), ExitCode::Usage);
    if (!confirm)
        return ExitCode::Success;
    SecureStringHolder confirmation;
    if (PasswordReader::fromTerminal(tr("Confirm password: ").toUtf8().constData(),
                                     confirmation.string()) != PasswordReader::Status::Ok)
        return fail(tr("No password given."), ExitCode::Usage);
    if (!secureEqual(password.string(), confirmation.string()))
        return fail(OutcomeMessage::passwordsDiffer(), ExitCode::Usage);
    return ExitCode::Success;
}

void Commands::warnIfWeak(const SecureStringHolder& password, const QString& target) const
{
    const PasswordStrength strength =
        PasswordStrength::estimate(password.string(), target, line.derivation());
    if (strength.tier() == PasswordStrength::Tier::Weak)
        printTo(stderr, tr("Warning: %1 (\"varnisk-cli passphrase\" makes a strong one.)")
                            .arg(strength.warning()));
}

int Commands::report(const Result& result, OutcomeMessage::Operation operation,
                     const QString& target) const
{
    if (result.ok())
        return ExitCode::Success;
    if (result.outcome == Outcome::Exists)
        return refuseExisting(target);
    return fail(OutcomeMessage::text(result, operation), exitCodeOf(result, operation));
}

int Commands::refuseExisting(const QString& target)
{
    return fail(tr("%1 exists already; use --force to replace it.").arg(target), ExitCode::Usage);
}

Result Commands::stream(ProgressLine::Work work, const QIODevice& input, bool writesStandardOutput,
                        const std::function<Result(StreamProgress*)>& pass) const
{
    StreamProgress progress;
    CancelOnSignal cancelOnSignal(progress);
    Result result{Outcome::UnknownError, {}};
    {
        const quint64 total = input.isSequential() ? 0 : static_cast<quint64>(input.size());
        const ProgressLine shown(progress, work, total,
                                 ProgressLine::wanted(line.quiet(), writesStandardOutput));
        result = pass(&progress);
    }
    if (result.outcome == Outcome::Cancelled)
        cancelOnSignal.raiseCaught();
    return result;
}

int Commands::fail(const QString& message, int exitCode)
{
    printTo(stderr, message);
    return exitCode;
}
