#include "CommandLine.h"
#include "Commands.h"
#include "ExitCode.h"
#include "securememory/ProcessProtection.h"
#include "translations/Translations.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include <sys/stat.h>

int main(int argc, char** argv)
{
    ProcessProtection::apply();
    // A file-size limit or a reader that went away are write errors, reported with exit code 3,
    // not a silent death.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Decrypted files are secrets: nobody but the user gets to read what this program writes.
    umask(S_IRWXG | S_IRWXO);
    const QCoreApplication application(argc, argv);
    Translations::install();

    CommandLine line;
    if (!line.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s\n%s\n", line.error().toUtf8().constData(),
                     CommandLine::tr("Try 'varnisk-cli --help'.").toUtf8().constData());
        return ExitCode::Usage;
    }
    return Commands(line).run();
}
