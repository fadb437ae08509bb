#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

// The form of PasswordDialog, written in the shape a form compiler would produce. The password
// field itself is added by the dialog, since it needs the dialog's holder.
namespace Ui {
class PasswordDialog
{
public:
    QGridLayout* gridLayout;
    QFormLayout* formLayout;
    QLabel* lPassword;
    QSpacerItem* horizontalSpacer;
    QPushButton* bCancel;
    QPushButton* bOk;
    QSpacerItem* horizontalSpacer_2;

    void setupUi(QDialog* dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName(QString::fromUtf8("PasswordDialog"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->resize(352, 167);
        QIcon icon;
        icon.addFile(QString::fromUtf8(":/Varnisk/Resources/logo48.png"), QSize(), QIcon::Normal,
                     QIcon::Off);
        dialog->setWindowIcon(icon);
        dialog->setSizeGripEnabled(false);
        dialog->setModal(true);
        gridLayout = new QGridLayout(dialog);
        gridLayout->setObjectName(QString::fromUtf8("gridLayout"));
        gridLayout->setSizeConstraint(QLayout::SetFixedSize);
        gridLayout->setHorizontalSpacing(0);
        gridLayout->setVerticalSpacing(6);
        gridLayout->setContentsMargins(10, 10, 10, 10);
        formLayout = new QFormLayout();
        formLayout->setObjectName(QString::fromUtf8("formLayout"));
        formLayout->setHorizontalSpacing(9);
        formLayout->setVerticalSpacing(9);
        lPassword = new QLabel(dialog);
        lPassword->setObjectName(QString::fromUtf8("lPassword"));

        formLayout->setWidget(0, QFormLayout::LabelRole, lPassword);

        gridLayout->addLayout(formLayout, 0, 0, 1, 4);

        horizontalSpacer = new QSpacerItem(0, 10, QSizePolicy::Expanding, QSizePolicy::Minimum);

        gridLayout->addItem(horizontalSpacer, 1, 0, 1, 1);

        bCancel = new QPushButton(dialog);
        bCancel->setObjectName(QString::fromUtf8("bCancel"));

        gridLayout->addWidget(bCancel, 1, 1, 1, 1);

        bOk = new QPushButton(dialog);
        bOk->setObjectName(QString::fromUtf8("bOk"));

        gridLayout->addWidget(bOk, 1, 3, 1, 1);

        horizontalSpacer_2 = new QSpacerItem(9, 10, QSizePolicy::Fixed, QSizePolicy::Minimum);

        gridLayout->addItem(horizontalSpacer_2, 1, 2, 1, 1);

        retranslateUi(dialog);

        bOk->setDefault(true);
    }

    void retranslateUi(QDialog* dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("PasswordDialog", "Varnisk"));
        lPassword->setText(QCoreApplication::translate("PasswordDialog", "Password:"));
        bCancel->setText(QCoreApplication::translate("PasswordDialog", "Cancel"));
        bOk->setText(QCoreApplication::translate("PasswordDialog", "Ok"));
    }
};
} // namespace Ui
