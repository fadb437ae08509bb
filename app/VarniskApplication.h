#pragma once

#include <QApplication>
#include <QPointer>
#include <QStringList>

#include <memory>

class Varnisk;
class WindowSystem;
class WorkerThread;

// The application object: splash screen, the first editor window, and the queue through which
// file names from the command line and from the system reach a window.
class VarniskApplication : public QApplication
{
    Q_OBJECT

public:
    VarniskApplication(int& argc, char** argv);
    ~VarniskApplication() override;

    // Checks the command line, queues its file names and runs the event loop. Returns -1 for a
    // command line with options, otherwise the event loop's result.
    int run(const QStringList& arguments);
    // Queues one file name to be opened.
    void requestOpen(const QString& filename);
    // Undoes what Type Selection left in the window system (for a program about to end).
    void restoreKeyboard();

    // The application object, if it is a VarniskApplication.
    static VarniskApplication* instance();

    // The positional arguments of a command line that has no options; false if it has any.
    static bool parseCommandLine(const QStringList& arguments, QStringList& fileNames);

public slots:
    void open(QString filename);

protected:
    bool event(QEvent* event) override;

private:
    Varnisk* createWindow();
    // Moves a new window off the places of the editor windows on screen.
    void placeApart(Varnisk* window) const;

    // Opened before the splash screen and kept for the program's life, one for every window: on
    // Wayland and under XWayland the window behind is known only from the focus changes it has
    // seen.
    std::shared_ptr<WindowSystem> windowSystem;
    // Guarded: the start-up window may be closed (and deleted) before the first request.
    QPointer<Varnisk> mainWindow;
    std::unique_ptr<WorkerThread> workerThread;
};
