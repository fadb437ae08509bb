#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QWidget;

// What a window asks and tells about merging another version of its document into the editor:
// a sync program's conflicting copies found beside it, how a merge came out or why it was
// refused, the clash markers and the other password at the next save, and removing the merged
// copies once the document is saved. Each question is a box over `parent` whose safe answer is
// the default; a box closed any other way (a lock closes them) gives that answer too.
class MergeQuestions
{
    Q_DECLARE_TR_FUNCTIONS(MergeQuestions)

public:
    // The words after the markers of a clash between the window's text and the version on disk.
    static QString thisWindow();
    static QString onDisk();
    // The status bar's words while the password of `name`, another version, is asked.
    static QString otherPassword(const QString& name);

    enum class CopiesAnswer
    {
        Merge,
        OpenAlone,
        Cancel,
    };
    // `copies` (file names) lie beside `document`, which is being opened.
    static CopiesAnswer conflictCopies(QWidget* parent, const QString& document,
                                       const QStringList& copies);
    // The merge is in the editor: `clashes` places hold both versions between markers.
    static void merged(QWidget* parent, int clashes);
    // `name` was not merged: a version holds a zero byte, or else the merge came out empty.
    static void refused(QWidget* parent, const QString& name, bool zeroByte);
    // The text to save still holds clash markers: save it so?
    static bool saveWithMarkers(QWidget* parent, const QString& name);

    enum class PasswordAnswer
    {
        ThisWindow,
        OnDisk,
        Cancel,
    };
    // The version of `name` that was merged has another password than the window's.
    static PasswordAnswer whichPassword(QWidget* parent, const QString& name);
    // `name` was saved with the merged `copies` in it: remove them?
    static bool removeCopies(QWidget* parent, const QString& name, const QStringList& copies);
};
