#pragma once

#include "LockSettings.h"

#include <QGroupBox>

class QCheckBox;
class QSpinBox;

// The Lock part of the settings dialog: minutes without input, and whether the screen locker,
// sleep and minimising lock the windows.
class LockSettingsSection : public QGroupBox
{
    Q_OBJECT

public:
    explicit LockSettingsSection(QWidget* parent);

    void setSettings(const LockSettings& settings);
    [[nodiscard]] LockSettings settings() const;

private:
    QSpinBox* sbIdleMinutes;
    QCheckBox* cbScreenLock;
    QCheckBox* cbSleep;
    QCheckBox* cbMinimize;
    // The time is kept in seconds: a value that is no whole number of minutes stays as it was
    // unless the user changes the minutes.
    LockSettings shown;
};
