#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

class QWidget;

// What a window asks about its secrets document on disk before it goes on: the file changed
// since it was opened or saved, data after a zero byte that the editor cannot show, and the
// unsaved changes that a recovery file kept. Each is a box over `parent` whose safe answer is
// the default; a box closed any other way (a lock closes them) gives that answer too.
class DocumentQuestions
{
    Q_DECLARE_TR_FUNCTIONS(DocumentQuestions)

public:
    enum class ChangedAnswer
    {
        Overwrite,
        SaveAs,
        Merge,
        Cancel,
    };
    // Tells that the file `name` changed (or `vanished`) since the window last opened or saved
    // it, and asks what to do; Save As only when `offerSaveAs`, and with it Merge when
    // `offerMerge` and the file is there.
    static ChangedAnswer changedOnDisk(QWidget* parent, const QString& name, bool vanished,
                                       bool offerSaveAs, bool offerMerge = false);
    // The document `name` holds data after a zero byte: open only the text before it?
    static bool openBeforeZeroByte(QWidget* parent, const QString& name);
    // Varnisk was ended at `written` while `document` had unsaved changes, kept in the recovery
    // file `recovery` (`otherBase`: made to another version than the one on disk now): continue
    // with them? Declining goes on to the next of `more` recovery files.
    static bool recover(QWidget* parent, const QDateTime& written, const QString& document,
                        const QString& recovery, bool otherBase, int more);
    // The recovery file does not open with the password given; `reason` says what failed.
    static void recoveryUnreadable(QWidget* parent, const QString& recovery, const QString& reason);
};
