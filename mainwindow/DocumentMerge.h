#pragma once

#include "documents/DocumentStore.h"
#include "encryption/Result.h"
#include "files/FileIdentity.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QMainWindow;
class QPlainTextEdit;
class SecureStringHolder;
class WindowLock;

// Merges another version of the window's document into its editor: the version on disk that
// another writer saved since the window's base (three ways, against the base), or the conflicting
// copies a sync program left beside it (two ways: without a common version every line either
// side has is kept). The result replaces the editor's text in one undo step, and nothing is
// written. That step carries what the merge changed besides the text (the base, the password of
// the version merged, the copies to offer for removal), so that undoing the merge undoes those
// too. No text is in the clear longer than the merge, nor ever leaves the process.
class DocumentMerge
{
    Q_DECLARE_TR_FUNCTIONS(DocumentMerge)

public:
    DocumentMerge(QMainWindow& window, DocumentStore& store, SecureStringHolder& documentPassword,
                  const WindowLock& lock);
    ~DocumentMerge();
    DocumentMerge(const DocumentMerge&) = delete;
    DocumentMerge& operator=(const DocumentMerge&) = delete;

    // Merges the document's file at `path`, which another writer changed, into `editor`, where
    // the base becomes that version. False when nothing changed: cancelled, or refused and told.
    bool mergeChangedFile(QPlainTextEdit& editor, const QString& path);
    // Merges the conflicting `copies` into `editor`, which shows the document just opened. A
    // copy that cannot be read or merged is told about and left out.
    void mergeCopies(QPlainTextEdit& editor, const QString& path, const QStringList& copies);

    // Before `text`, the editor's, is saved as the document `name`: asks once about clash
    // markers left in it, and which password to keep after a merge of a version under another
    // (unless the user has just `chosenPassword`, in Save As). False: the save is cancelled.
    bool readyToSave(const QByteArray& text, const QString& name, bool chosenPassword);
    // The document `name` was saved from the editor: offers to remove the copies merged into it.
    // What earlier merges changed besides the text no longer applies.
    void saved(const QString& name);

    // After an unlock or a recovery the base's text comes back from the document at `path`, if
    // the file there is still the base.
    void rereadBase(const QString& path);
    // The window locked: the base's text and the other version's password go.
    void locked();
    // Another document (New, Open, a Save As elsewhere): nothing of an earlier merge applies.
    void forget();
    [[nodiscard]] bool isAsking() const { return asking; }

private:
    class Step;
    // What a merge changes besides the text.
    struct Carried
    {
        std::unique_ptr<SecureStringHolder> password; // of the merged base, when not the document's
        QStringList copies;                           // merged into the text, to offer removing
        QList<FileIdentity> copiesRead;               // the versions of them that were merged
    };
    // One side of a merge's undo step; the other is the window's now.
    struct State
    {
        bool withBase = false;
        DocumentStore::Base base;
        Carried carried;
    };

    // Reads and decrypts the version at `path`: with the document's password or, where that
    // fails, one the user gives (then in `other`). Cancelled by the user or a lock.
    Result readVersion(const QString& path, QByteArray& plain, FileIdentity& read,
                       std::unique_ptr<SecureStringHolder>& other);
    // Puts `merged` into the editor as one undo step that swaps `state` in, and tells how it
    // went. `ours` names this side in the markers.
    bool apply(QPlainTextEdit& editor, QByteArray& merged, int clashes, const QByteArray& ours,
               State state);
    void swap(State& state, int stepGeneration);

    QMainWindow& window;
    DocumentStore& store;
    SecureStringHolder& documentPassword;
    const WindowLock& lock;
    Carried carried;
    QByteArray openingMarker; // of the last merge's clashes, until a save asked about them
    int generation = 0;       // steps of an earlier one came before a save or another document
    bool asking = false;
};
