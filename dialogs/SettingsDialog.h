#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class SettingsDialog;
}
class LockSettingsSection;
struct LockSettings;

// The program's settings that no action of the window sets by itself, one group box per
// section. The dialog only shows and takes values: whoever opens it reads them from the settings
// store before and writes them back once it was accepted.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent);
    ~SettingsDialog() override;

    // Backups: a Save that replaces a document keeps the version before it.
    void setBackups(bool on);
    bool backups() const;

    // Lock: when the windows lock by themselves.
    void setLockSettings(const LockSettings& settings);
    [[nodiscard]] LockSettings lockSettings() const;

private:
    std::unique_ptr<Ui::SettingsDialog> ui;
    LockSettingsSection* lockSection;
};
