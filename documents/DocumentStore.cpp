#include "DocumentStore.h"

#include "encryption/StreamCipher.h"
#include "files/CryptoFile.h"
#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <new>
#include <utility>

#include <sys/stat.h>

namespace {

using Outcome = Result::Outcome;

// The settings of the settings dialog are the program's, not a window's: each is written as soon
// as the dialog is accepted and read where it is used, so every window follows at once.
const QString backupsKey = QStringLiteral("Settings/backups");

// The key derivation of the document at `path` by its first byte, without decrypting it; false
// when nothing is there to read.
bool derivationOfFile(const QString& path, KeyDerivation& derivation)
{
    QFile file(path);
    char version = 0;
    if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile) || !file.getChar(&version))
        return false;
    derivation = StreamCipher::derivationOf(QByteArray(1, version));
    return true;
}

} // namespace

DocumentStore::DocumentStore(const SecureStringHolder& documentPassword)
    : password(documentPassword)
{}

Result DocumentStore::read(const QString& path, const SecureStringHolder& key, QByteArray& plain,
                           FileIdentity& read, KeyDerivation& derivation)
{
    QFile file(path);
    if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile))
        return {Outcome::CannotRead, {}};
    struct stat status = {};
    QByteArray encrypted;
    try {
        if (fstat(file.handle(), &status) == 0)
            encrypted = file.readAll();
    } catch (const std::bad_alloc&) {
        return Result::outOfMemory();
    }
    if (encrypted.size() != status.st_size || file.error() != QFileDevice::NoError)
        return {Outcome::CannotRead, {}};
    file.close();
    QBuffer source(&encrypted);
    source.open(QIODevice::ReadOnly);
    const Result decrypted = StreamCipher::decrypt(source, plain, key);
    if (decrypted.ok()) {
        read = FileIdentity::of(encrypted, status);
        derivation = StreamCipher::derivationOf(encrypted);
    }
    return decrypted;
}

void DocumentStore::setBase(const FileIdentity& base, bool underPassword)
{
    if (base != version)
        baseSealed.reset();
    version = base;
    baseUnderPassword = underPassword;
}

void DocumentStore::keepBaseText(const QByteArray& text)
{
    baseSealed.reset();
    try {
        auto sealed = std::make_unique<SealedText>();
        // Without it a merge falls back to the lines both versions share.
        if (sealed->seal(text, nullptr).ok())
            baseSealed = std::move(sealed);
    } catch (const std::bad_alloc&) {
    }
}

Result DocumentStore::baseText(QByteArray& text) const
{
    if (baseSealed == nullptr)
        return {Outcome::NotFound, {}};
    return baseSealed->unseal(nullptr, text);
}

void DocumentStore::swapBase(Base& other)
{
    std::swap(version, other.version);
    std::swap(baseUnderPassword, other.underPassword);
    std::swap(baseSealed, other.text);
}

bool DocumentStore::holds(const QString& path) const
{
    // Only device and inode count: the file may be large, and need not be read for that.
    struct stat wanted = {};
    return version.exists() && stat(QFile::encodeName(path).constData(), &wanted) == 0 &&
           version.device() == static_cast<quint64>(wanted.st_dev) &&
           version.inode() == static_cast<quint64>(wanted.st_ino);
}

WriteResult DocumentStore::save(const QString& path, const QByteArray& bytes, Content content,
                                const FileIdentity& expected)
{
    // A backup only under the password of the new version: after a password change no copy may
    // keep the secrets under the old one.
    const bool atHand = content == Content::Text;
    const Under replacedUnder =
        expected.exists() ? underPassword(path, expected, atHand) : Under::Unknown;
    const QString backup = backupPathFor(path);
    // Nor may a copy in version 5 stay beside a document that was raised to version 6: its key
    // derivation is what the new format was chosen against.
    const KeyDerivation writing =
        content == Content::Sealed ? StreamCipher::derivationOf(bytes) : format;
    KeyDerivation replaced = KeyDerivation::Pbkdf2;
    const bool raised = writing == KeyDerivation::Argon2id && expected.exists() &&
                        derivationOfFile(path, replaced) && replaced != writing;
    // A document in a folder where the user may not create files is written in place.
    AtomicFile::Options options(AtomicFile::Strategy::ReplaceOrInPlace);
    options.identifyWritten = true;
    options.expected = expected;
    if (replacedUnder == Under::Password && !raised && backupsWanted())
        options.backup = backup;
    WriteResult written;
    if (content == Content::Sealed) {
        written = CryptoFile::write(bytes, path, options);
    } else {
        QBuffer source;
        source.setData(bytes); // shared, not copied
        source.open(QIODevice::ReadOnly);
        written = CryptoFile::encrypt(source, static_cast<quint64>(bytes.size()), path, password,
                                      options, nullptr, format);
    }
    // A new file in place whose folder could not be synced is this window's version too.
    if (written.written.exists()) {
        setBase(written.written, true);
        if (content == Content::Text)
            keepBaseText(bytes);
    }
    if (!written.ok())
        return written;
    if (written.backupKept)
        keptBackup = expected;
    // What cannot be told (no password at hand) is left as it is.
    KeyDerivation kept = KeyDerivation::Pbkdf2;
    if ((expected.exists() && replacedUnder != Under::Password && QFileInfo::exists(backup) &&
         underPassword(backup, FileIdentity::ofPath(backup), atHand) == Under::OtherPassword) ||
        (raised && derivationOfFile(backup, kept) && kept != writing)) {
        QFile old(backup);
        if (!old.remove())
            written.backupNotRemoved = old.errorString();
    }
    // Ours, and those the user saw when the document opened: the text just saved holds what
    // was taken of them.
    recoveries << RecoveryFile::pathFor(path) << std::exchange(recoveryWritten, {});
    for (const QString& recovery : std::exchange(recoveries, {}))
        RecoveryFile::remove(recovery);
    return written;
}

WriteResult DocumentStore::writeRecovery(const QString& path, const QByteArray& bytes,
                                         Content content, QString& writtenTo)
{
    try {
        QByteArray image;
        if (const Result encrypted = sealed(bytes, content, image); !encrypted.ok())
            return encrypted;
        const QByteArray file = RecoveryFile::compose(version, image);
        AtomicFile::Options options(AtomicFile::Strategy::Replace);
        options.identifyWritten = true;
        options.ownerOnly = true;
        WriteResult written;
        // The usual name may be held by what cannot be replaced (a folder, a pipe, someone
        // else's file in a shared folder): then fresh names, which nothing may hold.
        for (int attempt = 0; attempt < 3; ++attempt) {
            writtenTo = RecoveryFile::pathFor(path, attempt);
            options.replaceExisting = attempt == 0;
            written = CryptoFile::write(file, writtenTo, options);
            if (written.ok() || written.outcome == Result::Outcome::OutOfMemory)
                break;
        }
        if (written.ok() && writtenTo != RecoveryFile::pathFor(path))
            recoveryWritten = writtenTo;
        return written;
    } catch (const std::bad_alloc&) {
        return Result::outOfMemory();
    }
}

Result DocumentStore::sealed(const QByteArray& bytes, Content content, QByteArray& image) const
{
    if (content == Content::Sealed) {
        image = bytes;
        return {};
    }
    return StreamCipher::encrypt(bytes, image, password, format);
}

QList<RecoveryFile::Content> DocumentStore::recoveriesOf(const QString& path,
                                                         const FileIdentity& read)
{
    QList<RecoveryFile::Content> recoveries = RecoveryFile::allFor(path);
    // One older than the document was written before the document's last save: nothing in it
    // is newer than what opens. Times are the file system's, which often stay the same for some
    // milliseconds: one as old as the document is offered, since declining it loses nothing.
    recoveries.erase(std::remove_if(recoveries.begin(), recoveries.end(),
                                    [&read](const RecoveryFile::Content& recovery) {
                                        return recovery.writtenNs < read.modifiedNs();
                                    }),
                     recoveries.end());
    return recoveries;
}

void DocumentStore::offered(const QList<RecoveryFile::Content>& shown)
{
    recoveries.clear();
    for (const RecoveryFile::Content& recovery : shown)
        recoveries << recovery.path;
}

DocumentStore::Under DocumentStore::underPassword(const QString& path, const FileIdentity& known,
                                                  bool passwordAtHand) const
{
    if (known.exists() && ((known == version && baseUnderPassword) || known == keptBackup))
        return Under::Password;
    if (!passwordAtHand)
        return Under::Unknown;
    // A version this window has not read or written: it opens with the password, or not.
    QFile file(path);
    if (!CryptoFile::openInput(file, CryptoFile::Input::RegularFile))
        return Under::Unknown;
    QByteArray plain;
    // No room to tell: no backup, rather than none of the save.
    const bool opens = StreamCipher::decrypt(file, plain, password).ok();
    secureWipe(plain);
    return opens ? Under::Password : Under::OtherPassword;
}

bool DocumentStore::backupsWanted()
{
    return QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"))
        .value(backupsKey, true)
        .toBool();
}

void DocumentStore::setBackupsWanted(bool wanted)
{
    QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk")).setValue(backupsKey, wanted);
}

QString DocumentStore::backupPathFor(const QString& path)
{
    // A document like any other, which says what it is and sorts beside its original. Never
    // hidden and never ".tmp", so no clean-up of temporary files takes it for one.
    QString backup = path;
    if (backup.endsWith(QLatin1String(".stxt")))
        backup.chop(5);
    return backup + QStringLiteral(".backup.stxt");
}
