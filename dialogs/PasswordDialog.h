#pragma once

#include "dialogs/PasswordPrompt.h"

#include <memory>

namespace Ui {
class PasswordDialog;
}
class SecureLineEdit;
class SecureStringHolder;

// Asks once for a password, typed straight into the caller's holder. Opened window-modal for
// each request and emptied with clear() after every use.
class PasswordDialog : public PasswordPrompt
{
    Q_OBJECT

public:
    PasswordDialog(SecureStringHolder* password, QWidget* parent);
    ~PasswordDialog() override;

    // Empties the field and wipes the password, ready for the next request.
    void clear() override;

private:
    std::unique_ptr<Ui::PasswordDialog> ui;
    SecureStringHolder* const password;
    SecureLineEdit* slePassword;
};
