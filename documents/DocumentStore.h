#pragma once

#include "documents/RecoveryFile.h"
#include "encryption/KeyDerivation.h"
#include "encryption/Result.h"
#include "encryption/SealedText.h"
#include "files/FileIdentity.h"
#include "files/WriteResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class SecureStringHolder;

// A window's secrets document on disk, without widgets. It reads a version of the document,
// writes the next one (keeping the replaced version as the backup, and never replacing another
// writer's version unasked), writes and finds the document's recovery files, and remembers the
// version the window holds: its base, which a save replaces without asking, with the base's text
// kept sealed for a merge.
//
// The document's password is the window's; the store only reads it. The store keeps the
// document's key derivation (its format version), which every save and recovery file of it uses.
class DocumentStore
{
public:
    explicit DocumentStore(const SecureStringHolder& documentPassword);

    // Reads the document at `path` once and decrypts it with `password`: the identity and the
    // text come from the same bytes, so the version a later save checks against is exactly the
    // one shown. `plain`, `read` and `derivation` (the format the document is in) are set only on
    // success.
    static Result read(const QString& path, const SecureStringHolder& password, QByteArray& plain,
                       FileIdentity& read, KeyDerivation& derivation);

    // What the next save writes with: the format the document was read in, or the one chosen for
    // Save As; a new document's is version 5.
    [[nodiscard]] KeyDerivation derivation() const { return format; }
    void setDerivation(KeyDerivation derivation) { format = derivation; }

    // The version of the document's file that the window last read or wrote (or a recovery's
    // base): a save replaces only that one without asking.
    [[nodiscard]] const FileIdentity& base() const { return version; }
    // The window now holds `base`; `underPassword`: it is encrypted under the document's
    // password. The text kept of another version is forgotten.
    void setBase(const FileIdentity& base, bool underPassword);
    // The document's password changed: the base may be under another one now, or (`baseUnderIt`)
    // is known to be under the new one.
    void passwordChanged(bool baseUnderIt = false)
    {
        baseUnderPassword = baseUnderIt;
        keptBackup = FileIdentity();
    }

    // Keeps `text`, the base as the editor shows it, sealed until a merge needs it: under a random
    // key in locked memory, so that opening and saving derive no key from the password for it.
    // Kept from open or save until the base changes, a lock forgets it, or it cannot be sealed.
    void keepBaseText(const QByteArray& text);
    // The base's text, in the clear only for the merge that asks; NotFound when none is kept.
    [[nodiscard]] Result baseText(QByteArray& text) const;
    [[nodiscard]] bool hasBaseText() const { return baseSealed != nullptr; }
    void forgetBaseText() { baseSealed.reset(); }
    // All the window knows of a base. A merge swaps the version on disk in, its undo swaps the
    // one before back.
    struct Base
    {
        FileIdentity version;
        bool underPassword = false;
        std::unique_ptr<SealedText> text;
    };
    void swapBase(Base& other);
    // The window holds the file that `path` names now (the same device and inode), without
    // reading it.
    [[nodiscard]] bool holds(const QString& path) const;

    // What a save writes: the editor's UTF-8 text, encrypted under the document's password as it
    // goes, or a sealed image of the document made before (a locked window holds its text only
    // so).
    enum class Content
    {
        Text,
        Sealed,
    };
    // Writes `bytes` as the document at `path`, replacing it only if it is still `expected`
    // right before the rename (Outcome::Changed otherwise). With backups wanted, the replaced
    // version is kept beside it when it is under the same password; after a password change no
    // copy is kept under the old one, and after a save that raises the format to version 6 none
    // in the older one. A sealed image comes without the password: then only the versions this
    // store read or wrote count as under it, and nothing is removed. Removes this process's
    // recovery file and those offered() once the new version is in place, and makes what was
    // written the base.
    WriteResult save(const QString& path, const QByteArray& bytes, Content content,
                     const FileIdentity& expected);
    // Writes this process's recovery file of the document at `path`, based on the base, always
    // for its owner only; where something not ours holds the name, under another name of the
    // same kind. `written` is the file's path.
    WriteResult writeRecovery(const QString& path, const QByteArray& bytes, Content content,
                              QString& written);
    // The document's recovery files that are not older than the version `read`, newest first.
    [[nodiscard]] static QList<RecoveryFile::Content> recoveriesOf(const QString& path,
                                                                   const FileIdentity& read);
    // The recovery files the user was offered for the window's document, which its next save
    // removes.
    void offered(const QList<RecoveryFile::Content>& recoveries);

    // The setting "keep backups" (on unless turned off), shared by every window.
    [[nodiscard]] static bool backupsWanted();
    static void setBackupsWanted(bool wanted);
    // doc.stxt keeps doc.backup.stxt.
    [[nodiscard]] static QString backupPathFor(const QString& path);

private:
    enum class Under
    {
        Password,
        OtherPassword,
        Unknown, // no password at hand to tell
    };
    // Whether the file at `path`, the version `known`, opens with the document's password:
    // known without reading it for a version this window read or wrote under it.
    [[nodiscard]] Under underPassword(const QString& path, const FileIdentity& known,
                                      bool passwordAtHand) const;
    // The bytes as a complete encrypted document.
    Result sealed(const QByteArray& bytes, Content content, QByteArray& image) const;

    const SecureStringHolder& password;
    FileIdentity version;
    bool baseUnderPassword = false;
    KeyDerivation format = KeyDerivation::Pbkdf2;
    std::unique_ptr<SealedText> baseSealed;
    FileIdentity keptBackup; // the version this store last kept as the backup
    QStringList recoveries;  // offered(), until the next save
    QString recoveryWritten; // by this process, if not at the usual name
};
