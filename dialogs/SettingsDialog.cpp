#include "SettingsDialog.h"

#include "LockSettings.h"
#include "LockSettingsSection.h"
#include "ui_SettingsDialog.h"

SettingsDialog::SettingsDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>())
{
    ui->setupUi(this);
    lockSection = new LockSettingsSection(this);
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->gbBackups) + 1, lockSection);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::setBackups(bool on)
{
    ui->cbBackups->setChecked(on);
}

bool SettingsDialog::backups() const
{
    return ui->cbBackups->isChecked();
}

void SettingsDialog::setLockSettings(const LockSettings& settings)
{
    lockSection->setSettings(settings);
}

LockSettings SettingsDialog::lockSettings() const
{
    return lockSection->settings();
}
