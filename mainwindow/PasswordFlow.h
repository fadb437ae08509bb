#pragma once

#include "encryption/KeyDerivation.h"

#include <QString>

class PasswordPrompt;
class QMainWindow;

// One operation of a window that asks for a password (Open, Decrypt File, Save As, Encrypt File),
// run in two halves. The first half remembers the file in the operation's path member, tells the
// status bar and opens the operation's password dialog window-modal, returning at once; the
// dialog's finished(int) starts the second half, which ends, whichever way it went, with end().
// The flow works on the window's own members: its dialog and its path.
class PasswordFlow
{
public:
    PasswordFlow(PasswordPrompt& dialog, QString& path, QMainWindow& window);

    // First half: `path` is the file the password is for, `status` what the status bar says
    // meanwhile.
    void begin(const QString& path, const QString& status);
    // The same, waiting for the dialog (and its second half, which finished(int) runs before
    // this returns); true when the password was given.
    bool beginAndWait(const QString& path, const QString& status);
    // Clears the dialog (and so the password typed into it) and the status bar.
    void end();
    // Only the dialog, while the operation's outcome has yet to be told.
    void clearPassword();
    [[nodiscard]] bool isAsking() const;
    // What the dialog chose to write a new file with; read it before end().
    [[nodiscard]] KeyDerivation derivation() const;
    // What the status bar says while the operation runs.
    [[nodiscard]] const QString& status() const { return shown; }

private:
    void prepare(const QString& path, const QString& status);

    PasswordPrompt& dialog;
    QString& path;
    QMainWindow& window; // whose status bar tells what the operation waits for
    QString shown;
};
