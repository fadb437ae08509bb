#include "ProcessProtection.h"
#include "VarniskApplication.h"

int main(int argc, char** argv)
{
    ProcessProtection::apply();
    VarniskApplication application(argc, argv);
    return application.run(QCoreApplication::arguments());
}
