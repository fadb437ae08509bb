#include "VarniskApplication.h"

#include "TerminationSignals.h"
#include "WorkerThread.h"
#include "app/WindowSystemFactory.h"
#include "mainwindow/Varnisk.h"
#include "platform/dbus/ApplicationService.h"
#include "translations/Translations.h"

#include <QBitmap>
#include <QCommandLineParser>
#include <QFileOpenEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSplashScreen>
#include <QWindow>

#include <utility>

VarniskApplication::VarniskApplication(int& argc, char** argv, Instance instance)
    : QApplication(argc, argv), workerThread(std::make_unique<WorkerThread>(this))
{
    // Window managers and compositors match the windows to the desktop entry by this name
    // (the app id on Wayland), and Type Selection recognises its own windows by it.
    setDesktopFileName(QStringLiteral("org.nembrow.Varnisk"));
    // Before the splash screen: a `varnisk FILE` that comes meanwhile waits for a window here
    // instead of starting one more program.
    if (instance == Instance::Session && handedOverToSession()) {
        stage = Stage::HandedOver;
        return;
    }
    Translations::install();
    // From the start: a signal that comes before the event loop runs is handled once it does.
    new TerminationSignals(this);
    windowSystem = WindowSystemFactory::create();
    {
        const QPixmap pixmap(QStringLiteral(":/Varnisk/Resources/splash.jpg"));
        QSplashScreen splash(pixmap);
        splash.setMask(pixmap.mask());
        splash.show();
        // Let the splash screen paint before the fixed wait.
        processEvents();
        QThread::msleep(1500);
        splash.close();
    }
    mainWindow = createWindow();
    workerThread->start(QThread::InheritPriority);
    connect(this, &QGuiApplication::focusWindowChanged, this, [this] {
        if (auto* window = qobject_cast<Varnisk*>(activeWindow()))
            frontWindow = window;
    });
    // Once run() has queued the command line.
    QMetaObject::invokeMethod(
        this,
        [this] {
            stage = Stage::Running;
            if (!handedOverEarly.isEmpty())
                openHandedOver(std::exchange(handedOverEarly, {}));
        },
        Qt::QueuedConnection);
}

VarniskApplication::~VarniskApplication()
{
    workerThread->stop();
    workerThread->wait();
}

bool VarniskApplication::parseCommandLine(const QStringList& arguments, QStringList& fileNames)
{
    QCommandLineParser parser;
    if (!parser.parse(arguments))
        return false;
    fileNames = parser.positionalArguments();
    return true;
}

int VarniskApplication::run(const QStringList& arguments)
{
    if (stage == Stage::HandedOver)
        return 0;
    QStringList fileNames;
    if (!parseCommandLine(arguments, fileNames)) {
        QMessageBox::critical(activeWindow(), QStringLiteral("Varnisk"),
                              QStringLiteral("Invalid command line option(s)!"), QMessageBox::Ok,
                              QMessageBox::NoButton);
        return -1;
    }
    for (const QString& name : fileNames)
        requestOpen(name);
    return exec();
}

void VarniskApplication::requestOpen(const QString& filename)
{
    requested = true;
    workerThread->enqueue(filename);
}

bool VarniskApplication::handedOverToSession()
{
    QStringList names;
    // A command line with options is refused by a program of its own, in run().
    if (!parseCommandLine(arguments(), names))
        return false;
    auto* session =
        new ApplicationService([this](const QStringList& files) { openHandedOver(files); }, this);
    if (session->ownsName()) {
        connect(this, &QGuiApplication::lastWindowClosed, session,
                &ApplicationService::releaseName);
        return false;
    }
    // Another Varnisk started at the same moment and got the name first.
    return ApplicationService::handOver(names) == ApplicationService::HandOver::Done;
}

void VarniskApplication::openHandedOver(const QStringList& files)
{
    // During the splash screen (the start-up window comes anyway).
    if (stage == Stage::Starting) {
        handedOverEarly << files;
        return;
    }
    if (files.isEmpty()) {
        Varnisk* window = frontWindow;
        for (QWidget* widget : topLevelWidgets()) {
            if (window == nullptr && widget->isVisible())
                window = qobject_cast<Varnisk*>(widget);
        }
        if (window != nullptr)
            window->bringToFront();
        return;
    }
    // Later requests even when nothing was asked for before: the start-up window stays as it is.
    if (!requested)
        mainWindow.clear();
    for (const QString& file : files)
        requestOpen(file);
}

void VarniskApplication::open(QString filename)
{
    // A document that a window shows already: that window comes to the front instead.
    if (Varnisk* showing = Varnisk::windowShowing(filename)) {
        showing->bringToFront();
        return;
    }
    Varnisk* window = mainWindow.data();
    mainWindow.clear();
    // A locked start-up window would open it only once unlocked.
    if (window == nullptr || window->isLocked())
        window = createWindow();
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->openFile(filename);
}

bool VarniskApplication::event(QEvent* event)
{
    if (event->type() == QEvent::FileOpen)
        requestOpen(static_cast<QFileOpenEvent*>(event)->file());
    return QApplication::event(event);
}

void VarniskApplication::restoreKeyboard()
{
    windowSystem->restoreKeyboard();
}

VarniskApplication* VarniskApplication::instance()
{
    return qobject_cast<VarniskApplication*>(QCoreApplication::instance());
}

Varnisk* VarniskApplication::createWindow()
{
    auto* window = new Varnisk(this);
    window->setWindowSystem(windowSystem);
    window->setAttribute(Qt::WA_DeleteOnClose);
    placeApart(window);
    window->show();
    return window;
}

void VarniskApplication::placeApart(Varnisk* window) const
{
    // Every window starts at the position kept in the settings, so windows opened together
    // would lie exactly on top of each other and look like one: each further one moves down
    // and to the right until no other window starts where it does. One that would leave the
    // screen starts again at its top left corner.
    QList<QPoint> taken;
    for (QWidget* widget : topLevelWidgets()) {
        if (widget != window && qobject_cast<Varnisk*>(widget) != nullptr && widget->isVisible())
            taken << widget->pos();
    }
    const QRect screen = window->screen()->availableGeometry();
    const QPoint step(32, 32);
    QPoint position = window->pos();
    for (int tries = 0; taken.contains(position) && tries <= taken.size(); ++tries) {
        position += step;
        if (!screen.contains(QRect(position, window->frameGeometry().size())))
            position = screen.topLeft();
    }
    window->move(position);
}
