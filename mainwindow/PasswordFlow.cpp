#include "PasswordFlow.h"

#include "dialogs/PasswordPrompt.h"

#include <QMainWindow>
#include <QStatusBar>

PasswordFlow::PasswordFlow(PasswordPrompt& prompt, QString& pathMember, QMainWindow& owner)
    : dialog(prompt), path(pathMember), window(owner)
{}

void PasswordFlow::prepare(const QString& file, const QString& status)
{
    shown = status;
    window.statusBar()->showMessage(status, 0);
    path = file;
    dialog.setFileName(file);
}

void PasswordFlow::begin(const QString& file, const QString& status)
{
    prepare(file, status);
    dialog.open();
}

bool PasswordFlow::beginAndWait(const QString& file, const QString& status)
{
    prepare(file, status);
    return dialog.exec() == QDialog::Accepted;
}

void PasswordFlow::end()
{
    clearPassword();
    // What the operation told meanwhile stays.
    if (window.statusBar()->currentMessage() == shown)
        window.statusBar()->showMessage(QString(), 0);
}

void PasswordFlow::clearPassword()
{
    dialog.clear();
}

KeyDerivation PasswordFlow::derivation() const
{
    return dialog.derivation();
}

bool PasswordFlow::isAsking() const
{
    return dialog.isVisible();
}
