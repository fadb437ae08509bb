#include "SettingsDialog.h"

#include "LockSettings.h"
#include "LockSettingsSection.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QPushButton>
#include <QVBoxLayout>

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(tr("Settings"));
    setWindowIcon(QIcon(QStringLiteral(":/Varnisk/Resources/logo48.png")));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    lockSection = new LockSettingsSection(this);
    lockSection->setSettings(LockSettings::read());
    layout->addWidget(lockSection);

    // Worded as in the other dialogs, not as Qt's standard buttons.
    auto* buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("bbButtons"));
    QPushButton* ok = buttons->addButton(tr("Ok"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("bOk"));
    ok->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("bCancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SettingsDialog::accept()
{
    lockSection->settings().write();
    QDialog::accept();
}
