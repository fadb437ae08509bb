#include "DocumentMerge.h"

#include "dialogs/MergeQuestions.h"
#include "dialogs/MessageBoxes.h"
#include "dialogs/PasswordDialog.h"
#include "mainwindow/EditorText.h"
#include "mainwindow/MemoryCheck.h"
#include "mainwindow/WindowLock.h"
#include "merge/TextMerge.h"
#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <new>
#include <utility>

namespace {

using Outcome = Result::Outcome;
using Operation = OutcomeMessage::Operation;

// What follows a marker is one line.
QByteArray label(QString words)
{
    words.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return words.toUtf8();
}

// The number of the first line of `text` that is exactly `line`, or -1.
int lineNumber(const QByteArray& text, const QByteArray& line)
{
    for (auto at = text.indexOf(line); at >= 0; at = text.indexOf(line, at + 1)) {
        const auto end = at + line.size();
        if ((at == 0 || text.at(at - 1) == '\n') && (end == text.size() || text.at(end) == '\n'))
            return int(std::count(text.constBegin(), text.constBegin() + at, '\n'));
    }
    return -1;
}

} // namespace

// A merge's undo step in the editor's history, beside the replaced text: undo and redo each swap
// what the merge changed with what the window holds. The editor's document owns it and deletes it
// with its history (New, Open, a lock, closing the window).
class DocumentMerge::Step : public QAbstractUndoItem
{
public:
    Step(DocumentMerge& owner, State before)
        : merge(owner), state(std::move(before)), generation(owner.generation)
    {}
    void undo() override { merge.swap(state, generation); }
    void redo() override { merge.swap(state, generation); }

private:
    DocumentMerge& merge;
    State state;
    const int generation;
};

DocumentMerge::DocumentMerge(QMainWindow& owner, DocumentStore& documentStore,
                             SecureStringHolder& password, const WindowLock& windowLock)
    : window(owner), store(documentStore), documentPassword(password), lock(windowLock)
{}

DocumentMerge::~DocumentMerge() = default;

bool DocumentMerge::mergeChangedFile(QPlainTextEdit& editor, const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    State state;
    QByteArray plain;
    QByteArray base;
    QByteArray ours;
    QByteArray theirs;
    TextMerge::Result merged;
    bool zero = false;
    const TextMerge::Labels labels{label(MergeQuestions::thisWindow()),
                                   label(MergeQuestions::onDisk())};
    try {
        if (!readVersion(path, plain, state.base.version, state.carried.password).ok())
            return false;
        // Without the base's text (a lock dropped it, or the text came from a recovery file) the
        // base is what both versions share.
        const bool threeWay = store.baseText(base).ok();
        ours = EditorText::of(editor);
        zero = plain.contains('\0') || ours.contains('\0') || base.contains('\0');
        theirs = EditorText::asShown(plain);
        secureWipe(plain);
        if (!zero)
            merged = threeWay ? TextMerge::threeWay(base, ours, theirs, labels)
                              : TextMerge::twoWay(ours, theirs, labels);
        secureWipe(base);
        secureWipe(ours);
        // The version on disk becomes the base, so the next save replaces it without asking.
        if (merged.ok) {
            state.withBase = true;
            state.base.underPassword = state.carried.password == nullptr;
            state.base.text = std::make_unique<SealedText>();
            if (!state.base.text->seal(theirs, nullptr).ok())
                state.base.text.reset();
            state.carried.copies = carried.copies;
            state.carried.copiesRead = carried.copiesRead;
        }
    } catch (const std::bad_alloc&) {
        for (QByteArray* text : {&plain, &base, &ours, &theirs, &merged.text})
            secureWipe(*text);
        MessageBoxes::report(&window, Result::outOfMemory(), Operation::Decrypt);
        return false;
    }
    secureWipe(theirs);
    if (!merged.ok) {
        MergeQuestions::refused(&window, name, zero);
        return false;
    }
    return apply(editor, merged.text, merged.clashes, labels.ours, std::move(state));
}

void DocumentMerge::mergeCopies(QPlainTextEdit& editor, const QString& path,
                                const QStringList& copies)
{
    const QByteArray ours = label(QFileInfo(path).fileName());
    State state;
    int clashes = 0;
    QByteArray text;
    try {
        text = EditorText::of(editor);
        for (const QString& copy : copies) {
            if (lock.isLocked()) // which took the document's password too
                break;
            const QString name = QFileInfo(copy).fileName();
            QByteArray plain;
            FileIdentity read;
            std::unique_ptr<SecureStringHolder> password;
            if (!readVersion(copy, plain, read, password).ok())
                continue;
            const bool zero = plain.contains('\0') || text.contains('\0');
            QByteArray theirs = EditorText::asShown(plain);
            secureWipe(plain);
            TextMerge::Result merged;
            if (!zero)
                merged = TextMerge::twoWay(text, theirs, {ours, label(name)});
            secureWipe(theirs);
            if (!merged.ok) {
                MergeQuestions::refused(&window, name, zero);
                continue;
            }
            secureWipe(text);
            text.swap(merged.text);
            clashes += merged.clashes;
            state.carried.copies << copy;
            state.carried.copiesRead << read;
        }
    } catch (const std::bad_alloc&) {
        secureWipe(text);
        MessageBoxes::report(&window, Result::outOfMemory(), Operation::Decrypt);
        return;
    }
    if (!state.carried.copies.isEmpty() && !lock.isLocked())
        apply(editor, text, clashes, ours, std::move(state));
    secureWipe(text);
}

Result DocumentMerge::readVersion(const QString& path, QByteArray& plain, FileIdentity& read,
                                  std::unique_ptr<SecureStringHolder>& other)
{
    KeyDerivation format = KeyDerivation::Pbkdf2;
    Result result = DocumentStore::read(path, documentPassword, plain, read, format);
    // A wrong password mostly spoils the padding (the engine throws), else the digest.
    while (result.outcome == Outcome::WrongPassword || result.outcome == Outcome::Failed) {
        if (other != nullptr) // the password given was wrong too
            MessageBoxes::report(&window, result, Operation::Decrypt);
        other = std::make_unique<SecureStringHolder>();
        const QScopedValueRollback<bool> waiting(asking, true);
        PasswordDialog dialog(other.get(), &window);
        window.statusBar()->showMessage(MergeQuestions::otherPassword(QFileInfo(path).fileName()),
                                        0);
        const bool given = dialog.exec() == QDialog::Accepted && !lock.isLocked();
        window.statusBar()->clearMessage();
        if (!given) {
            other.reset();
            return {Outcome::Cancelled, {}};
        }
        result = DocumentStore::read(path, *other, plain, read, format);
    }
    if (!result.ok())
        MessageBoxes::report(&window, result, Operation::Decrypt);
    // What comes of a merge is saved in the stronger of the two formats, undone or not.
    if (result.ok() && format == KeyDerivation::Argon2id)
        store.setDerivation(KeyDerivation::Argon2id);
    return result;
}

bool DocumentMerge::apply(QPlainTextEdit& editor, QByteArray& merged, int clashes,
                          const QByteArray& ours, State state)
{
    if (!MemoryCheck::roomForText(merged.size())) {
        secureWipe(merged);
        MessageBoxes::report(&window, Result::outOfMemory(), Operation::Decrypt);
        return false;
    }
    const QByteArray opening = "<<<<<<< " + ours;
    const int firstClash = clashes > 0 ? lineNumber(merged, opening) : -1;
    // Not wiped: the editor's document may go on sharing its buffer.
    const QString text = QString::fromUtf8(merged);
    secureWipe(merged);
    // From here the window holds what the merge made, and the step what there was before.
    swap(state, generation);
    QTextCursor cursor(editor.document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
    editor.document()->appendUndoItem(new Step(*this, std::move(state)));
    cursor.endEditBlock();
    editor.setTextCursor(
        QTextCursor(editor.document()->findBlockByNumber(std::max(firstClash, 0))));
    editor.ensureCursorVisible();
    openingMarker = clashes > 0 ? opening : QByteArray();
    MergeQuestions::merged(&window, clashes);
    return true;
}

void DocumentMerge::swap(State& state, int stepGeneration)
{
    if (stepGeneration != generation)
        return;
    if (state.withBase)
        store.swapBase(state.base);
    std::swap(carried, state.carried);
}

bool DocumentMerge::readyToSave(const QByteArray& text, const QString& name, bool chosenPassword)
{
    if (!openingMarker.isEmpty()) {
        if (lineNumber(text, openingMarker) >= 0 && !MergeQuestions::saveWithMarkers(&window, name))
            return false;
        openingMarker.clear();
    }
    if (carried.password != nullptr && !chosenPassword) {
        const MergeQuestions::PasswordAnswer answer = MergeQuestions::whichPassword(&window, name);
        if (answer == MergeQuestions::PasswordAnswer::Cancel || lock.isLocked())
            return false;
        if (answer == MergeQuestions::PasswordAnswer::OnDisk) {
            secureClear(documentPassword.string());
            documentPassword.string() = carried.password->string();
            store.passwordChanged(true);
        }
        carried.password.reset();
    }
    return true;
}

void DocumentMerge::saved(const QString& name)
{
    QStringList unchanged;
    QStringList names;
    for (int i = 0; i < carried.copies.size(); ++i) {
        // A copy the sync program changed since it was merged holds more than the document.
        if (FileIdentity::ofPath(carried.copies[i]) == carried.copiesRead[i]) {
            unchanged << carried.copies[i];
            names << QFileInfo(carried.copies[i]).fileName();
        }
    }
    // The base is what was written now: undoing an earlier merge changes only the text.
    carried = {};
    ++generation;
    if (!unchanged.isEmpty() && MergeQuestions::removeCopies(&window, name, names)) {
        for (const QString& copy : unchanged)
            QFile::remove(copy);
    }
}

void DocumentMerge::rereadBase(const QString& path)
{
    if (store.hasBaseText() || !store.base().exists())
        return;
    QByteArray plain;
    FileIdentity read;
    try {
        KeyDerivation format = KeyDerivation::Pbkdf2;
        if (DocumentStore::read(path, documentPassword, plain, read, format).ok() &&
            read == store.base()) {
            QByteArray shown = EditorText::asShown(plain);
            store.keepBaseText(shown);
            secureWipe(shown);
        }
    } catch (const std::bad_alloc&) {
        // A merge then goes without the base, as after a lock.
    }
    secureWipe(plain);
}

void DocumentMerge::locked()
{
    store.forgetBaseText();
    carried.password.reset();
}

void DocumentMerge::forget()
{
    carried = {};
    openingMarker.clear();
    ++generation;
}
