#include "Varnisk.h"

#include "LockController.h"
#include "LockSettings.h"
#include "SettingsDialog.h"
#include "ui_VarniskClass.h"

#include <QDir>
#include <QSettings>

void Varnisk::readSettings()
{
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    settings.beginGroup(QStringLiteral("MainWindow"));
    resize(settings.value(QStringLiteral("size"), QSize(600, 400)).toSize());
    move(settings.value(QStringLiteral("pos"), QPoint(200, 200)).toPoint());
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Settings"));
    secretsPath = settings.value(QStringLiteral("secretsPath"), QDir::currentPath()).toString();
    ui->action_Line_Wrap->setChecked(settings.value(QStringLiteral("lineWrap"), true).toBool());
    tabWidth = settings.value(QStringLiteral("tabWidth"), 4).toInt();
    applyTabWidth();
    settings.endGroup();

    aLineWrap();
}

void Varnisk::writeSettings()
{
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    settings.beginGroup(QStringLiteral("MainWindow"));
    settings.setValue(QStringLiteral("size"), size());
    settings.setValue(QStringLiteral("pos"), pos());
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Settings"));
    settings.setValue(QStringLiteral("secretsPath"), secretsPath);
    settings.setValue(QStringLiteral("lineWrap"), ui->action_Line_Wrap->isChecked());
    settings.setValue(QStringLiteral("tabWidth"), tabWidth);
    settings.endGroup();
}

namespace {

// The settings of the settings dialog are the program's, not a window's: each is written as soon
// as the dialog is accepted and read where it is used, so every window follows at once.
const QString backupsKey = QStringLiteral("Settings/backups");

} // namespace

bool Varnisk::backupsWanted()
{
    return QSettings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"))
        .value(backupsKey, true)
        .toBool();
}

void Varnisk::aPreferences()
{
    SettingsDialog dialog(this);
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    dialog.setBackups(settings.value(backupsKey, true).toBool());
    dialog.setLockSettings(LockSettings::read());
    if (dialog.exec() != QDialog::Accepted)
        return;
    settings.setValue(backupsKey, dialog.backups());
    dialog.lockSettings().write();
    LockController::instance().reloadSettings();
}
