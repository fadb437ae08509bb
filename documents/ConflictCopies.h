#pragma once

#include <QString>
#include <QStringList>

// The conflicting copies that sync programs leave beside a document changed on two computers at
// once: Syncthing's NAME.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.stxt, Nextcloud's
// NAME (conflicted copy YYYY-MM-DD HHMMSS).stxt and Dropbox's
// NAME (HOST's conflicted copy YYYY-MM-DD).stxt. Found only: nothing here writes or removes one.
class ConflictCopies
{
public:
    // The copies of the document at `path` in its folder, in the order of their names.
    [[nodiscard]] static QStringList beside(const QString& path);
};
