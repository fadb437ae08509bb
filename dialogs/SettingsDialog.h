#pragma once

#include <QDialog>

class LockSettingsSection;

// The settings that are no action of their own, one section each. Shows the stored values and
// stores the chosen ones when accepted.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent);

    void accept() override;

private:
    LockSettingsSection* lockSection;
};
