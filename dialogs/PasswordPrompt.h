#pragma once

#include "encryption/KeyDerivation.h"

#include <QDialog>
#include <QString>

class QFormLayout;
class QLabel;

// What the password dialogs have in common for the operations that ask through them: each is
// opened window-modal for one file, names that file below its fields (two dialogs may be up at
// once, for two files), and is emptied after every use.
class PasswordPrompt : public QDialog
{
    Q_OBJECT

public:
    using QDialog::QDialog;

    // Empties the fields and wipes what was typed, ready for the next request.
    virtual void clear() = 0;
    // The file the password is for, before each open().
    virtual void setFileName(const QString& path);
    // What a new file is to be written with; a prompt for an existing file's password has no say.
    [[nodiscard]] virtual KeyDerivation derivation() const { return KeyDerivation::Pbkdf2; }

protected:
    // Puts the line that names the file as the last row of `form`.
    void addFileLine(QFormLayout* form);

private:
    QLabel* lFile = nullptr;
};
