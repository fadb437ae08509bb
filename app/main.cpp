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
    // A file-size limit makes a save fail with an error message instead of killing the editor
    // and its unsaved edits.
    std::signal(SIGXFSZ, SIG_IGN);
    VarniskApplication application(argc, argv);
    return application.run(QCoreApplication::arguments());
}
