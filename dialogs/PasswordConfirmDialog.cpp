#include "PasswordConfirmDialog.h"

#include "SecureLineEdit.h"
#include "messages/OutcomeMessage.h"
#include "passwords/PassphraseGenerator.h"
#include "passwords/PasswordStrength.h"
#include "ui_PasswordConfirmDialog.h"

#include <QLocale>
#include <QMessageBox>
#include <QScopedValueRollback>

PasswordConfirmDialog::PasswordConfirmDialog(SecureStringHolder* holder, QWidget* parent)
    : PasswordPrompt(parent), ui(std::make_unique<Ui::PasswordConfirmDialog>()), password(holder)
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
    addFileLine(ui->formLayout);
    // From the second entry to the choice of format, then on to the buttons.
    setTabOrder(sleConfirm, ui->cbStrongerDerivation);
    forgetPassphrase();
    updateEstimate();

    connect(ui->bOk, &QPushButton::clicked, this, &PasswordConfirmDialog::accept);
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->bGenerate, &QPushButton::clicked, this, &PasswordConfirmDialog::generate);
    connect(ui->cbStrongerDerivation, &QCheckBox::toggled, this,
            &PasswordConfirmDialog::updateEstimate);
    for (SecureLineEdit* field : {slePassword, sleConfirm})
        connect(field, &QLineEdit::textChanged, this, &PasswordConfirmDialog::fieldsEdited);
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
    forgetPassphrase();
    ui->cbStrongerDerivation->setChecked(false);
    updateEstimate();
    slePassword->setFocus(Qt::OtherFocusReason);
}

void PasswordConfirmDialog::setFileName(const QString& path)
{
    PasswordPrompt::setFileName(path);
    fileName = path;
    updateEstimate();
}

KeyDerivation PasswordConfirmDialog::derivation() const
{
    return ui->cbStrongerDerivation->isChecked() ? KeyDerivation::Argon2id : KeyDerivation::Pbkdf2;
}

void PasswordConfirmDialog::setDerivation(KeyDerivation derivation)
{
    ui->cbStrongerDerivation->setChecked(derivation == KeyDerivation::Argon2id);
    updateEstimate();
}

void PasswordConfirmDialog::accept()
{
    if (!secureEqual(password->string(), confirmation.string())) {
        QMessageBox::critical(this, QStringLiteral("Varnisk"), OutcomeMessage::passwordsDiffer(),
                              QMessageBox::Ok);
        // Either entry may be the wrong one, and a field cannot show which: both start afresh.
        clear();
        return;
    }
    const PasswordStrength strength =
        PasswordStrength::estimate(password->string(), fileName, derivation());
    if (strength.tier() == PasswordStrength::Tier::Weak &&
        QMessageBox::question(this, QStringLiteral("Varnisk"),
                              strength.warning() + QLatin1Char('\n') + tr("Use it anyway?"),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes) {
        slePassword->setFocus(Qt::OtherFocusReason);
        return;
    }
    QDialog::accept();
}

void PasswordConfirmDialog::generate()
{
    SecureStringHolder passphrase;
    if (!PassphraseGenerator::generate(passphrase.string(), PassphraseGenerator::minimumWords,
                                       PassphraseGenerator::languageOf(QLocale()))) {
        QMessageBox::critical(this, QStringLiteral("Varnisk"), PassphraseGenerator::failureText(),
                              QMessageBox::Ok);
        return;
    }
    {
        const QScopedValueRollback<bool> guard(filling, true);
        slePassword->setSecret(passphrase.string());
        sleConfirm->setSecret(passphrase.string());
    }
    // Shown once, so that it can be written down; it goes wherever the fields' content goes.
    ui->lPassphrase->setText(QString::fromUtf8(passphrase.string().data(),
                                               static_cast<int>(passphrase.string().size())));
    ui->lGenerated->show();
    ui->lPassphrase->show();
    updateEstimate();
}

void PasswordConfirmDialog::fieldsEdited()
{
    if (filling)
        return;
    // The fields no longer hold what is shown.
    forgetPassphrase();
    // Queued: a field reports the change of its text before its secret has followed.
    QMetaObject::invokeMethod(this, &PasswordConfirmDialog::updateEstimate, Qt::QueuedConnection);
}

void PasswordConfirmDialog::updateEstimate()
{
    ui->lTimeToGuess->setText(
        PasswordStrength::estimate(password->string(), fileName, derivation()).line());
}

void PasswordConfirmDialog::forgetPassphrase()
{
    ui->lPassphrase->clear();
    ui->lGenerated->hide();
    ui->lPassphrase->hide();
}
