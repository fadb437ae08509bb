#include "TestSupport.h"

#include "encryption/StreamCipher.h"
#include "files/CryptoFile.h"
#include "securememory/SecureStringHolder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sched.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void setPassword(SecureStringHolder& holder, const QByteArray& utf8)
{
    holder.string().assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

QByteArray secretOf(const SecureStringHolder& holder)
{
    return QByteArray(holder.string().data(), static_cast<int>(holder.string().size()));
}

bool encryptToFile(const QString& path, const QByteArray& plain, const QByteArray& password)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QByteArray copy = plain;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return CryptoFile::encrypt(buffer, static_cast<quint64>(plain.size()), path, holder).ok();
}

QByteArray decryptFile(const QString& path, const QByteArray& password)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QFile file(path);
    QByteArray plain;
    if (!file.open(QIODevice::ReadOnly) || !StreamCipher::decrypt(file, plain, holder).ok())
        return {};
    return plain.isNull() ? QByteArray("") : plain;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray underFileSizeLimit(qint64 limit, const std::function<QByteArray()>& body, bool* ok)
{
    *ok = false;
    int channel[2];
    if (pipe(channel) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
#ifdef __SANITIZE_THREAD__
        // ThreadSanitizer lets no forked child of a threaded process start threads: the
        // engine works on one thread here (the plain and ASan builds check both).
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
#endif
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit size{};
        getrlimit(RLIMIT_FSIZE, &size);
        size.rlim_cur = static_cast<rlim_t>(limit);
        QByteArray answer = setrlimit(RLIMIT_FSIZE, &size) == 0 ? body() : "setrlimit failed";
        const bool sent = write(channel[1], answer.constData(),
                                static_cast<size_t>(answer.size())) == answer.size();
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    QByteArray answer;
    char buffer[4096];
    for (ssize_t count; (count = read(channel[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<int>(count));
    close(channel[0]);
    int status = 0;
    *ok = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
          WEXITSTATUS(status) == 0;
    return answer;
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    rlimit size{};
    getrlimit(RLIMIT_FSIZE, &size);
    previous = size.rlim_cur;
    size.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &size) != 0)
        qWarning("setrlimit(RLIMIT_FSIZE) failed");
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit size{};
    getrlimit(RLIMIT_FSIZE, &size);
    size.rlim_cur = static_cast<rlim_t>(previous);
    setrlimit(RLIMIT_FSIZE, &size);
}

namespace {
long capabilities(long call, __user_cap_data_struct* data)
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(call, &header, data);
}
} // namespace

PermissionsApply::PermissionsApply()
{
    capabilities(SYS_capget, saved);
    __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    capabilities(SYS_capset, reduced);
}

PermissionsApply::~PermissionsApply()
{
    capabilities(SYS_capset, saved);
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

} // namespace TestSupport
