#include "PasswordConfirmDialog.h"

#include "SecureLineEdit.h"
#include "ui_PasswordConfirmDialog.h"

#include <QMessageBox>

PasswordConfirmDialog::PasswordConfirmDialog(SecureStringHolder* holder, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::PasswordConfirmDialog>()), password(holder)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Created after the buttons, so Tab goes from the first entry to the second.
    slePassword = new SecureLineEdit(password, this);
    slePassword->setObjectName(QStringLiteral("slePassword"));
    slePassword->setFocus(Qt::OtherFocusReason);
    ui->formLayout->setWidget(0, QFormLayout::FieldRole, slePassword);
    sleConfirm = new SecureLineEdit(&confirmation, this);
    sleConfirm->setObjectName(QStringLiteral("sleConfirm"));
    ui->formLayout->setWidget(1, QFormLayout::FieldRole, sleConfirm);

    connect(ui->bOk, &QPushButton::clicked, this, &PasswordConfirmDialog::accept);
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

PasswordConfirmDialog::~PasswordConfirmDialog()
{
    // The line edits point at `confirmation`: they must go before it is released.
    delete slePassword;
    delete sleConfirm;
}

void PasswordConfirmDialog::clear()
{
    slePassword->wipe();
    sleConfirm->wipe();
    slePassword->setFocus(Qt::OtherFocusReason);
}

void PasswordConfirmDialog::accept()
{
    if (secureEqual(password->string(), confirmation.string())) {
        QDialog::accept();
        return;
    }
    QMessageBox::critical(this, QStringLiteral("Varnisk"), tr("Passwords don't match!"),
                          QMessageBox::Ok);
}
