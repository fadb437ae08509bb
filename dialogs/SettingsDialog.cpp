#include "SettingsDialog.h"

#include "ui_SettingsDialog.h"

SettingsDialog::SettingsDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>())
{
    ui->setupUi(this);
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
