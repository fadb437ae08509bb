#include "OutcomeMessage.h"

#include <QCoreApplication>

namespace {

// The engine's reasons are fixed English texts, its contract with every caller; the user reads
// them in the user's language. A reason the system gave (strerror) has no entry and stays as
// it is.
QString reason(const QString& detail)
{
    return QCoreApplication::translate("EncryptedStream", detail.toUtf8().constData());
}

} // namespace

QString OutcomeMessage::text(const Result& result, Operation operation)
{
    using Outcome = Result::Outcome;
    // A failed write is worded by what was being written: an encrypted file, or a decrypted one.
    const QString writeFailure =
        operation == Operation::Encrypt
            ? QCoreApplication::translate("Varnisk", "Error writing File!\nError-Message: ")
            : QCoreApplication::translate("Varnisk", "Error saving file!\nError-Message: ");
    switch (result.outcome) {
    case Outcome::Success:
    case Outcome::Cancelled:
        return QString();
    case Outcome::NotFound:
        return QCoreApplication::translate("Varnisk", "File does not exsist!");
    case Outcome::CannotRead:
        return QCoreApplication::translate("Varnisk", "File could not be opened for reading!");
    case Outcome::WrongPassword:
        return QCoreApplication::translate("Varnisk", "Wrong password!");
    case Outcome::VersionTooOld:
        return QCoreApplication::translate("Varnisk", "File-Version < 4!");
    case Outcome::VersionTooNew:
        // The version byte of a file that is no Varnisk file is just its first byte.
        return QCoreApplication::translate(
            "Varnisk",
            "This file is not a Varnisk file, or was written by a newer version of Varnisk!");
    case Outcome::Failed:
        if (operation == Operation::Encrypt)
            return writeFailure + reason(result.detail);
        return QCoreApplication::translate("Varnisk",
                                           "Wrong password or corrupted File!\nError-Message: ") +
               reason(result.detail);
    case Outcome::SaveFailed:
        return writeFailure + reason(result.detail);
    case Outcome::NotSynced:
        return writeFailure + reason(result.detail) +
               QCoreApplication::translate(
                   "Varnisk", "\nThe new file is in place, but its folder could not be synced: it "
                              "may be lost if the system stops now.");
    case Outcome::Damaged:
        return writeFailure + reason(result.detail) +
               QCoreApplication::translate(
                   "Varnisk", "\nThe old content could not be written back: the file may be "
                              "damaged. Save the document under another name now.");
    case Outcome::Changed:
        return QCoreApplication::translate(
            "Varnisk", "The file was changed by another program meanwhile; nothing was written.");
    case Outcome::CannotWrite:
        if (result.detail.isEmpty())
            return QCoreApplication::translate("Varnisk", "File could not be opened for writing!");
        [[fallthrough]];
    case Outcome::Exists:
        return QCoreApplication::translate(
                   "Varnisk", "File could not be opened for writing!\nError-Message: ") +
               result.detail;
    case Outcome::OutOfMemory:
        return QCoreApplication::translate("Varnisk", "Not enough memory!\nError-Message: ") +
               result.detail;
    case Outcome::UnknownError:
        break;
    }
    return QCoreApplication::translate("Varnisk", "Unknown error occurred!");
}

QString OutcomeMessage::passwordsDiffer()
{
    return QCoreApplication::translate("Varnisk", "Passwords don't match!");
}

QString OutcomeMessage::memoryNotLocked()
{
    return QCoreApplication::translate(
        "Varnisk", "Memory cannot be locked (ulimit -l): passwords may be written to swap.");
}
