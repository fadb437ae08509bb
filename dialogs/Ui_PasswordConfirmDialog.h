#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

// The form of PasswordConfirmDialog, written in the shape a form compiler would produce. The two
// password fields are added by the dialog, since they need its holders.
namespace Ui {
class PasswordConfirmDialog
{
public:
    QGridLayout* gridLayout;
    QPushButton* bOk;
    QSpacerItem* horizontalSpacer;
    QPushButton* bCancel;
    QSpacerItem* horizontalSpacer_2;
    QFormLayout* formLayout;
    QLabel* lPassword;
    QLabel* lPasswordConfirm;

    void setupUi(QDialog* dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName(QString::fromUtf8("PasswordConfirmDialog"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->resize(423, 168);
        QIcon icon;
        icon.addFile(QString::fromUtf8(":/Varnisk/Resources/logo48.png"), QSize(), QIcon::Normal,
                     QIcon::Off);
        dialog->setWindowIcon(icon);
        dialog->setModal(true);
        gridLayout = new QGridLayout(dialog);
        gridLayout->setObjectName(QString::fromUtf8("gridLayout"));
        gridLayout->setSizeConstraint(QLayout::SetFixedSize);
        gridLayout->setHorizontalSpacing(0);
        bOk = new QPushButton(dialog);
        bOk->setObjectName(QString::fromUtf8("bOk"));

        gridLayout->addWidget(bOk, 1, 3, 1, 1);

        horizontalSpacer = new QSpacerItem(0, 10, QSizePolicy::Expanding, QSizePolicy::Minimum);

        gridLayout->addItem(horizontalSpacer, 1, 0, 1, 1);

        bCancel = new QPushButton(dialog);
        bCancel->setObjectName(QString::fromUtf8("bCancel"));

        gridLayout->addWidget(bCancel, 1, 1, 1, 1);

        horizontalSpacer_2 = new QSpacerItem(9, 10, QSizePolicy::Minimum, QSizePolicy::Minimum);

        gridLayout->addItem(horizontalSpacer_2, 1, 2, 1, 1);

        formLayout = new QFormLayout();
        formLayout->setObjectName(QString::fromUtf8("formLayout"));
        formLayout->setHorizontalSpacing(9);
        formLayout->setVerticalSpacing(9);
        lPassword = new QLabel(dialog);
        lPassword->setObjectName(QString::fromUtf8("lPassword"));

        formLayout->setWidget(0, QFormLayout::LabelRole, lPassword);

        lPasswordConfirm = new QLabel(dialog);
        lPasswordConfirm->setObjectName(QString::fromUtf8("lPasswordConfirm"));

        formLayout->setWidget(1, QFormLayout::LabelRole, lPasswordConfirm);

        gridLayout->addLayout(formLayout, 0, 0, 1, 4);

        retranslateUi(dialog);

        bOk->setDefault(true);
    }

    void retranslateUi(QDialog* dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("PasswordConfirmDialog", "Varnisk"));
        bOk->setText(QCoreApplication::translate("PasswordConfirmDialog", "Ok"));
        bCancel->setText(QCoreApplication::translate("PasswordConfirmDialog", "Cancel"));
        lPassword->setText(QCoreApplication::translate("PasswordConfirmDialog", "Password:"));
        lPasswordConfirm->setText(QCoreApplication::translate("PasswordConfirmDialog", "Confirm:"));
    }
};
} // namespace Ui
