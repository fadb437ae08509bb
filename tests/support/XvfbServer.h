#pragma once

#include "TestSupport.h"

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <sys/types.h>

// An Xvfb of the test's own, on a display number the server picks itself (-displayfd), so
// tests never clash over display numbers. It ends with this object, and with the test process
// should that die without its destructors.
class XvfbServer
{
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Why no server runs; empty once it does.
    const QString& error() const { return failure; }
    QByteArray display; // ":N" once started

    // Runs the Qt Test class `Test` on the xcb platform of a server of its own, with settings of
    // its own. Where none can start it runs offscreen, and `Test` skips: it is constructed with
    // the reason.
    template <class Test> static int run(int argc, char** argv)
    {
        const XvfbServer server;
        const QTemporaryDir settings;
        TestSupport::isolateSettings(settings);
        qputenv("DISPLAY", server.display);
        qputenv("QT_QPA_PLATFORM", server.failure.isEmpty() ? "xcb" : "offscreen");
        // No OpenGL: Mesa's GLX on Xvfb only adds start-up time and allocations of its own.
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        QApplication application(argc, argv);
        Test test(server.failure);
        return QTest::qExec(&test, argc, argv);
    }

private:
    pid_t pid = -1;
    QString failure;
};
