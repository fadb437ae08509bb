#include "PasswordDialog.h"

#include "SecureLineEdit.h"
#include "ui_PasswordDialog.h"

PasswordDialog::PasswordDialog(SecureStringHolder* holder, QWidget* parent)
    : PasswordPrompt(parent), ui(std::make_unique<Ui::PasswordDialog>()), password(holder)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Created after the buttons, so it comes after them in the focus chain.
    slePassword = new SecureLineEdit(password, this);
    slePassword->setObjectName(QStringLiteral("slePassword"));
    slePassword->setFocus(Qt::OtherFocusReason);
    ui->formLayout->setWidget(0, QFormLayout::FieldRole, slePassword);
    addFileLine(ui->formLayout);

    connect(ui->bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// The line edit, a child, goes with the base; it only points at the caller's holder.
PasswordDialog::~PasswordDialog() = default;

void PasswordDialog::clear()
{
    slePassword->wipe();
    slePassword->setFocus(Qt::OtherFocusReason);
}
