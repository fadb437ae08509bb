#include "EarlyOptions.h"

#include "VarniskApplication.h"
#include "Version.h"
#include "platform/dbus/LockService.h"
#include "translations/Translations.h"

#ifdef VARNISK_WITH_X11
#include "platform/x11/X11StartupNotification.h"
#endif

#include <cstdio>
#include <cstring>

namespace {

int printHelp()
{
    std::fputs(EarlyOptions::helpText().toUtf8().constData(), stdout);
    return 0;
}

int printVersion()
{
    std::printf("varnisk %u.%u\n", static_cast<unsigned>(Version::major),
                static_cast<unsigned>(Version::minor));
    return 0;
}

struct EarlyOption
{
    const char* name;
    int (*answer)(); // runs with a QCoreApplication and the translations installed
};

const EarlyOption earlyOptions[] = {
    {"--help", &printHelp},
    {"-h", &printHelp},
    {"--version", &printVersion},
    {"--lock", &LockService::lockEveryInstance},
};

} // namespace

std::optional<int> EarlyOptions::answer(int& argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        for (const EarlyOption& option : earlyOptions) {
            if (std::strcmp(argv[i], option.name) != 0)
                continue;
            // QtCore only: the locale and our translations, no display.
            const QCoreApplication application(argc, argv);
            Translations::install();
            return option.answer();
        }
    }
    return std::nullopt;
}

ApplicationService::HandOver EarlyOptions::handOver(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QStringList names;
    // Also Qt's own options (such as -platform), which only an application object knows.
    if (!VarniskApplication::parseCommandLine(arguments, names))
        return ApplicationService::HandOver::Refused;
    const ApplicationService::HandOver outcome = ApplicationService::handOver(names);
#ifdef VARNISK_WITH_X11
    if (outcome == ApplicationService::HandOver::Done)
        X11StartupNotification::complete(qgetenv("DESKTOP_STARTUP_ID"));
#endif
    return outcome;
}

QString EarlyOptions::helpText()
{
    return tr("Usage: varnisk [OPTION] [--] [FILE...]\n"
              "\n"
              "Varnisk is an editor for secrets kept in a password-protected document.\n"
              "Each FILE is opened by its suffix: a secrets document (.stxt) in the editor,\n"
              "an encrypted data file (.sdat) or image (.simg) for decryption. The first\n"
              "opens in the window shown at start-up, each further one in a window of its\n"
              "own.\n"
              "\n"
              "While a Varnisk runs in this session, varnisk FILE... hands the files to it\n"
              "and ends at once: each opens there in a new window, or brings the window\n"
              "that shows it already to the front. Without FILE the running Varnisk brings\n"
              "its front window forward. A Varnisk of its own starts only without a\n"
              "session bus, with an option, on another display, or when the running one\n"
              "does not answer within 3 seconds.\n"
              "\n"
              "Options:\n"
              "  -h, --help     show this help\n"
              "  --version      show the version\n"
              "  --lock         lock the windows of every running Varnisk of this session,\n"
              "                 then exit: for screen lockers that tell nobody\n"
              "  --             end the options: every later argument is a file name, even\n"
              "                 one that begins with a dash\n"
              "\n"
              "Any other option is refused with a message box. Qt's own options for\n"
              "graphical programs (such as -platform NAME) are taken by Qt.\n"
              "varnisk-cli encrypts and decrypts the same files on the command line.\n");
}
