#include "VarniskApplication.h"

int main(int argc, char** argv)
{
    VarniskApplication application(argc, argv);
    return application.run(QCoreApplication::arguments());
}
