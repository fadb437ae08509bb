#pragma once

#include <QString>

class QWidget;

// The file dialogs of the editor window, which leave no record of the files chosen. The
// desktop's own dialogs (GTK's, KDE's, the portal's) add every file chosen in them to the
// desktop's recent-files list, a decrypted file's name among them, so Qt's own dialog is used.
// Qt's dialog keeps its history and last folder in QtProject.conf, shared by every Qt program
// of the user: that is put back as it was after each dialog.
class TracelessFileDialog
{
public:
    // The chosen file or folder, or an empty string when the dialog was cancelled.
    static QString openFileName(QWidget* parent, const QString& caption, const QString& directory,
                                const QString& filter = {});
    // `proposal` is a folder to start in or a file name to propose; a name typed without a
    // suffix gets `defaultSuffix`, when one is given.
    static QString saveFileName(QWidget* parent, const QString& caption, const QString& proposal,
                                const QString& filter, const QString& defaultSuffix);
    static QString existingDirectory(QWidget* parent, const QString& caption,
                                     const QString& directory);
};
