#include "TestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace TestSupport {

void isolateSettings(const QTemporaryDir& dir)
{
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

ProcessResult run(const QString& program, const QStringList& arguments, const QByteArray& input,
                  int timeoutMs)
{
    ProcessResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        result.err = "could not start " + program.toLocal8Bit();
        return result;
    }
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = "timed out: " + program.toLocal8Bit();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

ProcessResult openssl(const QStringList& arguments, const QByteArray& input)
{
    return run(QStringLiteral("openssl"), arguments, input);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

QString binaryPath(const QString& relative)
{
    return QDir(QString::fromLocal8Bit(qgetenv("VARNISK_BINARY_DIR"))).filePath(relative);
}

QString sourcePath(const QString& relative)
{
    return QDir(QString::fromLocal8Bit(qgetenv("VARNISK_SOURCE_DIR"))).filePath(relative);
}

void whenModal(std::function<void(QWidget*)> handler, int timeoutMs)
{
    auto* timer = new QTimer(qApp);
    auto deadline = QDeadlineTimer(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, [timer, handler, deadline]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            handler(modal);
        } else if (deadline.hasExpired()) {
            timer->stop();
            timer->deleteLater();
            qWarning("whenModal: no modal widget appeared");
        }
    });
    timer->start(10);
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace TestSupport
