#include "LockPage.h"

#include "SecureLineEdit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

LockPage::LockPage(SecureStringHolder* holder, QWidget* parent) : QWidget(parent), password(holder)
{
    setObjectName(QStringLiteral("LockPage"));
    auto* outer = new QHBoxLayout(this);
    outer->setObjectName(QStringLiteral("hlOuter"));
    auto* column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("vlColumn"));
    column->setSpacing(9);
    outer->addStretch(1);
    outer->addLayout(column, 0);
    outer->addStretch(1);

    auto* lIcon = new QLabel(this);
    lIcon->setObjectName(QStringLiteral("lIcon"));
    lIcon->setPixmap(QPixmap(QStringLiteral(":/Varnisk/Resources/logo48.png")));
    lIcon->setAlignment(Qt::AlignHCenter);
    auto* lLocked = new QLabel(tr("This document is locked."), this);
    lLocked->setObjectName(QStringLiteral("lLocked"));
    lLocked->setAlignment(Qt::AlignHCenter);
    lName = new QLabel(this);
    lName->setObjectName(QStringLiteral("lName"));
    lName->setAlignment(Qt::AlignHCenter);
    lName->setTextFormat(Qt::PlainText);
    QFont bold = lName->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    lName->setFont(bold);
    lNoPassword = new QLabel(tr("This document has no password yet: anyone at this computer can "
                                "unlock it. Save it to protect it with a password."),
                             this);
    lNoPassword->setObjectName(QStringLiteral("lNoPassword"));
    lNoPassword->setWordWrap(true);
    lNoPassword->setAlignment(Qt::AlignHCenter);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->setObjectName(QStringLiteral("hlPassword"));
    lPassword = new QLabel(tr("Password:"), this);
    lPassword->setObjectName(QStringLiteral("lPassword"));
    bUnlock = new QPushButton(tr("Unlock"), this);
    bUnlock->setObjectName(QStringLiteral("bUnlock"));
    // Created after the button, so Tab from the field goes on to it.
    slePassword = new SecureLineEdit(password, this);
    slePassword->setObjectName(QStringLiteral("slePassword"));
    slePassword->setMinimumWidth(220);
    lPassword->setBuddy(slePassword);
    passwordRow->addWidget(lPassword);
    passwordRow->addWidget(slePassword, 1);
    setTabOrder(slePassword, bUnlock);

    auto* lUndo = new QLabel(tr("Unlocking brings back the text, the cursor and unsaved changes, "
                                "but not the undo history."),
                             this);
    lUndo->setObjectName(QStringLiteral("lUndo"));
    lUndo->setWordWrap(true);
    lUndo->setAlignment(Qt::AlignHCenter);
    lUndo->setEnabled(false); // a hint, shown dimmed

    column->addStretch(1);
    column->addWidget(lIcon);
    column->addWidget(lLocked);
    column->addWidget(lName);
    column->addWidget(lNoPassword);
    column->addLayout(passwordRow);
    column->addWidget(bUnlock, 0, Qt::AlignHCenter);
    column->addWidget(lUndo);
    column->addStretch(1);
    // Wrapped texts of a fixed width: the column is then as wide whether or not the password
    // row shows, and a wrapped label gets the height its lines need.
    lNoPassword->setFixedWidth(360);
    lUndo->setFixedWidth(360);

    connect(bUnlock, &QPushButton::clicked, this, &LockPage::unlockRequested);
}

void LockPage::keyPressEvent(QKeyEvent* event)
{
    // Return and Enter come here from the password field and from the button, which both leave
    // them to their parent, as in a dialog. Queued: the field is done with the key before the
    // unlock empties it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        QMetaObject::invokeMethod(this, &LockPage::unlockRequested, Qt::QueuedConnection);
        return;
    }
    QWidget::keyPressEvent(event);
}

void LockPage::prepare(const QString& documentName, bool needsPassword)
{
    slePassword->wipe();
    lName->setText(documentName);
    lNoPassword->setVisible(!needsPassword);
    lPassword->setVisible(needsPassword);
    slePassword->setVisible(needsPassword);
    if (needsPassword)
        slePassword->setFocus(Qt::OtherFocusReason);
    else
        bUnlock->setFocus(Qt::OtherFocusReason);
}

void LockPage::clear()
{
    slePassword->wipe();
    if (slePassword->isVisible())
        slePassword->setFocus(Qt::OtherFocusReason);
}
