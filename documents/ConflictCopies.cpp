#include "ConflictCopies.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

QStringList ConflictCopies::beside(const QString& path)
{
    // Each program puts its mark between the name and the last suffix.
    const QFileInfo document(path);
    const QString name = document.fileName();
    const int dot = int(name.lastIndexOf(QLatin1Char('.')));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString suffix = dot > 0 ? name.mid(dot) : QString();
    const QRegularExpression copy(
        QStringLiteral("^%1(\\.sync-conflict-\\d{8}-\\d{6}-[A-Z0-9]+"
                       "| \\(conflicted copy \\d{4}-\\d{2}-\\d{2} \\d{6}\\)"
                       "| \\(.+['\u2019]s conflicted copy \\d{4}-\\d{2}-\\d{2}\\))%2$")
            .arg(QRegularExpression::escape(stem), QRegularExpression::escape(suffix)));
    const QDir folder = document.absoluteDir();
    QStringList copies;
    for (const QString& entry : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (copy.match(entry).hasMatch())
            copies << folder.filePath(entry);
    }
    return copies;
}
