#include "Varnisk.h"

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
