#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include <linux/capability.h>

class QTemporaryDir;
class SecureStringHolder;

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
QByteArray randomBytes(int count);
// Every entry of a folder, hidden ones included, sorted by name.
QStringList entries(const QString& folder);
void writeFile(const QString& path, const QByteArray& data);
// Absolute path of a file in the build tree, e.g. "cli/varnisk-cli".
QString binaryPath(const QString& relative);
// Absolute path of a file in the source tree.
QString sourcePath(const QString& relative);

// The password (UTF-8) into a holder, and back out of it.
void setPassword(SecureStringHolder& holder, const QByteArray& utf8);
QByteArray secretOf(const SecureStringHolder& holder);
// A secrets document or encrypted file written and read by the engine, as another Varnisk would.
bool encryptToFile(const QString& path, const QByteArray& plain, const QByteArray& password);
// The plaintext, or a null array when the file does not decrypt.
QByteArray decryptFile(const QString& path, const QByteArray& password);

// Runs `body` in a child process (fork) whose file-size limit is `limit` bytes, with SIGXFSZ
// ignored: a write past the limit fails with EFBIG at exactly that byte, as on a disk that is
// full there. Returns what `body` returned; `ok` is false when the child did not end normally.
// The child must not use the test macros.
QByteArray underFileSizeLimit(qint64 limit, const std::function<QByteArray()>& body, bool* ok);

// Lowers the file-size limit of this process while it lives; the test must ignore SIGXFSZ.
// Within the test process, for code that cannot run in a child (widgets).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    quint64 previous = 0;
};

// Root may write into any folder and open any file: while this lives, the calling thread (and
// the threads it starts) obeys the permission bits as any other user does. (It gives up
// CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from its effective set, and takes them back after.)
class PermissionsApply
{
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

private:
    __user_cap_data_struct saved[2] = {};
};

} // namespace TestSupport
