#include "EarlyOptions.h"
#include "VarniskApplication.h"
#include "app/WindowSystemFactory.h"
#include "securememory/ProcessProtection.h"

#include <csignal>
#include <optional>

int main(int argc, char** argv)
{
    // Only this may come before the protection: the desktop's portal refuses a process it can
    // no longer inspect, and no secret exists yet.
    WindowSystemFactory::prepare();
    ProcessProtection::apply();
    if (const std::optional<int> exitCode = EarlyOptions::answer(argc, argv))
        return *exitCode;
    // One program for the session's windows: no splash screen and no window of its own.
    const ApplicationService::HandOver handOver = EarlyOptions::handOver(argc, argv);
    if (handOver == ApplicationService::HandOver::Done)
        return 0;
    // A file-size limit makes a save fail with an error message instead of killing the editor
    // and its unsaved edits.
    std::signal(SIGXFSZ, SIG_IGN);
    // Refused: the running one is on another display, busy or closing; this one stays apart.
    VarniskApplication application(argc, argv,
                                   handOver == ApplicationService::HandOver::NoInstance
                                       ? VarniskApplication::Instance::Session
                                       : VarniskApplication::Instance::Separate);
    return application.run(QCoreApplication::arguments());
}
