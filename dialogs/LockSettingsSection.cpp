#include "LockSettingsSection.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QSpinBox>

namespace {

constexpr int maximumMinutes = 24 * 60;

} // namespace

LockSettingsSection::LockSettingsSection(QWidget* parent) : QGroupBox(parent)
{
    setObjectName(QStringLiteral("LockSettingsSection"));
    setTitle(tr("Lock"));
    auto* layout = new QFormLayout(this);
    layout->setObjectName(QStringLiteral("flLock"));

    sbIdleMinutes = new QSpinBox(this);
    sbIdleMinutes->setObjectName(QStringLiteral("sbIdleMinutes"));
    sbIdleMinutes->setRange(0, maximumMinutes);
    sbIdleMinutes->setSuffix(tr(" min"));
    sbIdleMinutes->setSpecialValueText(tr("never"));
    layout->addRow(tr("Lock after no input for:"), sbIdleMinutes);

    cbScreenLock = new QCheckBox(tr("Lock when the screen locks"), this);
    cbScreenLock->setObjectName(QStringLiteral("cbScreenLock"));
    layout->addRow(cbScreenLock);
    cbSleep = new QCheckBox(tr("Lock before the computer sleeps"), this);
    cbSleep->setObjectName(QStringLiteral("cbSleep"));
    layout->addRow(cbSleep);
    cbMinimize = new QCheckBox(tr("Lock when the window is minimised"), this);
    cbMinimize->setObjectName(QStringLiteral("cbMinimize"));
    layout->addRow(cbMinimize);
}

void LockSettingsSection::setSettings(const LockSettings& settings)
{
    shown = settings;
    // Rounded up, so that a short time never shows as "never".
    sbIdleMinutes->setValue(qMin(maximumMinutes, (settings.idleSeconds + 59) / 60));
    cbScreenLock->setChecked(settings.onScreenLock);
    cbSleep->setChecked(settings.beforeSleep);
    cbMinimize->setChecked(settings.onMinimize);
}

LockSettings LockSettingsSection::settings() const
{
    LockSettings chosen = shown;
    if (sbIdleMinutes->value() != qMin(maximumMinutes, (shown.idleSeconds + 59) / 60))
        chosen.idleSeconds = sbIdleMinutes->value() * 60;
    chosen.onScreenLock = cbScreenLock->isChecked();
    chosen.beforeSleep = cbSleep->isChecked();
    chosen.onMinimize = cbMinimize->isChecked();
    return chosen;
}
