#pragma once

#include <QByteArray>

#include <sys/types.h>

// An Xvfb of the test's own, on a display number the server picks itself (-displayfd), so
// tests never clash over display numbers.
class XvfbServer
{
public:
    ~XvfbServer() { stop(); }
    bool start();
    void stop();

    QByteArray display; // ":N" once started

private:
    pid_t pid = -1;
};
