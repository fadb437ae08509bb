#include "XvfbServer.h"

#include <csignal>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

XvfbServer::XvfbServer()
{
    int fds[2];
    if (pipe(fds) != 0) {
        failure = QStringLiteral("no pipe for Xvfb");
        return;
    }
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() == 1)
            _exit(126);
        const QByteArray fd = QByteArray::number(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    QByteArray number;
    char c = 0;
    while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number.append(c);
    close(fds[0]);
    if (number.isEmpty())
        failure = QStringLiteral("Xvfb could not start (is it installed?)");
    else
        display = ":" + number;
}

XvfbServer::~XvfbServer()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}
