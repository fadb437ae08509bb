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
    // How this program stands to the other Varnisk programs of the session.
    enum class Instance
    {
        Separate, // on its own (as in the tests)
        Session,  // the session's one Varnisk, unless another got there first: then it hands
                  // its command line over and ends
    };

    VarniskApplication(int& argc, char** argv, Instance instance = Instance::Separate);
    ~VarniskApplication() override;

    // Checks the command line, queues its file names and runs the event loop. Returns -1 for a
    // command line with options, 0 at once when it was handed over, otherwise the event loop's
    // result.
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
    // Claims the session's name; true when another Varnisk had it and took the command line.
    bool handedOverToSession();
    // Files another `varnisk` handed over: each in a window of its own, as a later request.
    void openHandedOver(const QStringList& files);
    Varnisk* createWindow();
    // Moves a new window off the places of the editor windows on screen.
    void placeApart(Varnisk* window) const;

    // Opened before the splash screen and kept for the program's life, one for every window: on
    // Wayland and under XWayland the window behind is known only from the focus changes it has
    // seen.
    std::shared_ptr<WindowSystem> windowSystem;
    // Guarded: the start-up window may be closed (and deleted) before the first request.
    QPointer<Varnisk> mainWindow;
    // The editor window that was active last: the one a `varnisk` without files brings forward.
    QPointer<Varnisk> frontWindow;
    std::unique_ptr<WorkerThread> workerThread;
    enum class Stage
    {
        Starting,   // files handed over meanwhile wait behind the program's own command line
        Running,    // from the event loop's first turn
        HandedOver, // another Varnisk took the command line
    };
    Stage stage = Stage::Starting;
    QStringList handedOverEarly;
    bool requested = false;
};
