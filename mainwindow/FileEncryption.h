#pragma once

#include "encryption/Result.h"
#include "mainwindow/FileOperation.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class PasswordFlow;
class QFile;
class SecureStringHolder;

// Encrypt File and Decrypt File of a window, once their password was given: the work runs on a
// thread of its own (FileOperation) while the window repaints, and what follows its end (the
// outcome, the file dialog for a decrypted image) comes on the window's thread. Works on the
// window's own password slots, which outlive it.
class FileEncryption : public QObject
{
    Q_OBJECT

public:
    // The window's members of the two operations.
    struct Members
    {
        const SecureStringHolder& encryptPassword;
        PasswordFlow& encryptFlow;
        const QString& encryptSource;
        const QString& encryptTarget;
        const SecureStringHolder& decryptPassword;
        PasswordFlow& decryptFlow;
        const QString& decryptFileName;
    };
    FileEncryption(QWidget* window, const Members& windowMembers);

    // First half of Decrypt File: asks for the password of `fileName`.
    void beginDecryption(const QString& fileName);
    // The second halves: `result` is the password dialog's.
    void encryptContinued(int result);
    void decryptContinued(int result);

    [[nodiscard]] FileOperation& operation() { return fileOperation; }
    // While held (the window is locked) the end of a work shows nothing; its outcome waits
    // until release(), which tells it. True when there was one.
    void hold();
    bool release();

    // Tells the user, and returns true, when `target` is `source` itself.
    static bool refuseSameFile(QWidget* window, const QString& source, const QString& target);

signals:
    // A work and everything after it have ended.
    void ended();

private:
    using Step = void (FileEncryption::*)(const Result& result);
    void run(const QString& text, std::unique_ptr<QFile> source, FileOperation::Work work,
             Step whenDone);
    void workEnded(const Result& result);
    void encryptFinished(const Result& written);
    void decryptDataFinished(const Result& read);
    void decryptImageFinished(const Result& read);
    QString decryptedStem() const;
    void endDecryption(const Result& read);

    QWidget* const window;
    const Members members;
    QByteArray decryptedImage; // the plaintext of an image, between its decryption and its save
    QString dataTarget;        // where a data file goes, kept while its password is asked again
    Step whenDone = nullptr;
    bool held = false;
    std::optional<Result> heldResult;
    // Declared last, so that it goes first: its thread reads the buffers above until it has
    // ended.
    FileOperation fileOperation;
};
