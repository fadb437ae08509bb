#pragma once

#include "platform/dbus/ApplicationService.h"

#include <QCoreApplication>

#include <optional>

// The options that varnisk answers in main(), before its application object exists: they need
// no display, and show no splash screen and no window. Each is a whole argument before a lone
// "--"; the first one found is answered and the program ends. Everything else (file names,
// Qt's own options, unknown options) is left to the application. A further option of this
// kind is one more line in the table in EarlyOptions.cpp. A command line of file names goes to
// the session's running Varnisk, when there is one, before any application object either.
class EarlyOptions
{
    Q_DECLARE_TR_FUNCTIONS(EarlyOptions)

public:
    // The exit code when the command line holds such an option, which has then been answered;
    // nothing otherwise.
    static std::optional<int> answer(int& argc, char** argv);
    // Hands a command line without options to the session's running Varnisk (see
    // ApplicationService::handOver); one with options is for a program of its own (Refused).
    static ApplicationService::HandOver handOver(int argc, char** argv);

    static QString helpText();
};
