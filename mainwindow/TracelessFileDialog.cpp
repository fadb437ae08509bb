#include "TracelessFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <array>

namespace {

// Where Qt's file dialog keeps its state.
class QtFileDialogSettings : public QSettings
{
public:
    QtFileDialogSettings() : QSettings(QSettings::UserScope, QStringLiteral("QtProject"))
    {
        beginGroup(QStringLiteral("FileDialog"));
    }
};

// Qt's file dialog writes where it has been into QtProject.conf as it goes away; this puts
// those entries back as they were once the dialog has gone.
class KeptDialogHistory
{
public:
    KeptDialogHistory()
    {
        QtFileDialogSettings settings;
        for (std::size_t i = 0; i < keys.size(); ++i)
            values[i] = settings.value(QLatin1String(keys[i]));
    }
    ~KeptDialogHistory()
    {
        QtFileDialogSettings settings;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (values[i].isValid())
                settings.setValue(QLatin1String(keys[i]), values[i]);
            else
                settings.remove(QLatin1String(keys[i]));
        }
    }
    KeptDialogHistory(const KeptDialogHistory&) = delete;
    KeptDialogHistory& operator=(const KeptDialogHistory&) = delete;

private:
    static constexpr std::array<const char*, 2> keys = {"history", "lastVisited"};
    std::array<QVariant, keys.size()> values;
};

} // namespace

QString TracelessFileDialog::openFileName(QWidget* parent, const QString& caption,
                                          const QString& directory, const QString& filter)
{
    const KeptDialogHistory kept;
    return QFileDialog::getOpenFileName(parent, caption, directory, filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

QString TracelessFileDialog::saveFileName(QWidget* parent, const QString& caption,
                                          const QString& proposal, const QString& filter,
                                          const QString& defaultSuffix)
{
    const KeptDialogHistory kept;
    QFileDialog dialog(parent, caption, proposal, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without a suffix gets the one the filter stands for, so the file can be
    // found again by the Open dialog's filter and opened by its type.
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (QFileInfo(proposal).isDir())
        dialog.setDirectory(proposal);
    else if (!proposal.isEmpty())
        dialog.selectFile(proposal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString TracelessFileDialog::existingDirectory(QWidget* parent, const QString& caption,
                                               const QString& directory)
{
    const KeptDialogHistory kept;
    return QFileDialog::getExistingDirectory(parent, caption, directory,
                                             QFileDialog::ShowDirsOnly |
                                                 QFileDialog::DontResolveSymlinks |
                                                 QFileDialog::DontUseNativeDialog);
}
