#pragma once

#include "SecureStringHolder.h"

#include <QDialog>

#include <memory>

namespace Ui {
class PasswordConfirmDialog;
}
class SecureLineEdit;

// Asks twice for a new password and accepts only when both entries agree. The first entry goes
// into the caller's holder; the second into a holder of the dialog's own.
class PasswordConfirmDialog : public QDialog
{
    Q_OBJECT

public:
    PasswordConfirmDialog(SecureStringHolder* password, QWidget* parent);
    ~PasswordConfirmDialog() override;

    // Empties both fields and wipes both entries, ready for the next request.
    void clear();

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui::PasswordConfirmDialog> ui;
    SecureStringHolder* const password;
    SecureLineEdit* slePassword;
    SecureStringHolder confirmation;
    SecureLineEdit* sleConfirm;
};
