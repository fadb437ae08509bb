#include "LockService.h"
#include "ProcessProtection.h"
#include "Translations.h"
#include "VarniskApplication.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>

namespace {

// `varnisk --lock`: asks the running editors to lock; no display, no window of its own.
int lockRunningEditors(int& argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Translations::install();
    return LockService::lockEveryInstance();
}

} // namespace

int main(int argc, char** argv)
{
    ProcessProtection::apply();
    if (argc == 2 && std::strcmp(argv[1], "--lock") == 0)
        return lockRunningEditors(argc, argv);
    // A file-size limit makes a save fail with an error message instead of killing the editor
    // and its unsaved edits.
    std::signal(SIGXFSZ, SIG_IGN);
    VarniskApplication application(argc, argv);
    return application.run(QCoreApplication::arguments());
}
