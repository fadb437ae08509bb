#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
class QTemporaryDir;

// Helpers shared by the tests.
namespace TestSupport {

// Points QSettings (and XDG_CONFIG_HOME) at `dir`, so no test touches the user's settings.
void isolateSettings(const QTemporaryDir& dir);

struct ProcessResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
// Runs a program to its end, feeding `input` to its standard input.
ProcessResult run(const QString& program, const QStringList& arguments,
                  const QByteArray& input = {}, int timeoutMs = 60000);
// Runs the openssl command-line tool (an implementation independent of ours).
ProcessResult openssl(const QStringList& arguments, const QByteArray& input = {});

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& data);
// Absolute path of a file in the build tree, e.g. "cli/varnisk-cli".
QString binaryPath(const QString& relative);
// Absolute path of a file in the source tree.
QString sourcePath(const QString& relative);

// Calls `handler` with the next modal widget (dialog or message box) once it is shown, from
// the event loop. Use before the call that opens the dialog; `handler` must close it.
void whenModal(std::function<void(QWidget*)> handler, int timeoutMs = 10000);
// Runs the event loop until `condition` holds or `timeoutMs` passed; returns the condition.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

} // namespace TestSupport
