#pragma once

#include "dialogs/PasswordPrompt.h"
#include "securememory/SecureStringHolder.h"

#include <QString>

#include <memory>

namespace Ui {
class PasswordConfirmDialog;
}
class SecureLineEdit;

// Asks twice for a new password and accepts only when both entries agree. The first entry goes
// into the caller's holder; the second into a holder of the dialog's own. Below the fields it
// tells how long the password would hold against guessing; a weak or empty one is accepted only
// when the user confirms it, and Generate fills both fields with a random passphrase, shown once.
// A check box chooses the stronger key derivation of format version 6; the estimate follows it.
class PasswordConfirmDialog : public PasswordPrompt
{
    Q_OBJECT

public:
    PasswordConfirmDialog(SecureStringHolder* password, QWidget* parent);
    ~PasswordConfirmDialog() override;

    // Empties both fields and wipes both entries, ready for the next request.
    void clear() override;
    // The file the password is for, before each open(): its name counts as a guessable word.
    void setFileName(const QString& path) override;
    // The check box, off after clear(): Save As offers it ticked for a document in version 6.
    [[nodiscard]] KeyDerivation derivation() const override;
    void setDerivation(KeyDerivation derivation);

public slots:
    void accept() override;

private:
    void generate();
    void fieldsEdited();
    void updateEstimate();
    void forgetPassphrase();

    std::unique_ptr<Ui::PasswordConfirmDialog> ui;
    SecureStringHolder* const password;
    SecureLineEdit* slePassword;
    SecureStringHolder confirmation;
    SecureLineEdit* sleConfirm;
    QString fileName;
    // Set while generate() fills the fields, which are then no edit of the user's.
    bool filling = false;
};
