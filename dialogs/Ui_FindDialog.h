#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

// The form of FindDialog, written in the shape a form compiler would produce.
namespace Ui {
class FindDialog
{
public:
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QLabel* label;
    QLineEdit* leFind;
    QHBoxLayout* horizontalLayout_2;
    QSpacerItem* horizontalSpacer;
    QHBoxLayout* horizontalLayout_3;
    QPushButton* bCancel;
    QPushButton* bFind;

    void setupUi(QDialog* dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName(QString::fromUtf8("FindDialog"));
        dialog->resize(300, 95);
        QSizePolicy sizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
        sizePolicy.setHorizontalStretch(0);
        sizePolicy.setVerticalStretch(0);
        sizePolicy.setHeightForWidth(dialog->sizePolicy().hasHeightForWidth());
        dialog->setSizePolicy(sizePolicy);
        dialog->setMinimumSize(QSize(300, 0));
        QIcon icon;
        icon.addFile(QString::fromUtf8(":/Varnisk/Resources/logo48.png"), QSize(), QIcon::Normal,
                     QIcon::Off);
        dialog->setWindowIcon(icon);
        dialog->setWindowOpacity(0.8);
        verticalLayout = new QVBoxLayout(dialog);
        verticalLayout->setSpacing(6);
        verticalLayout->setContentsMargins(11, 11, 11, 11);
        verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setSpacing(6);
        horizontalLayout->setObjectName(QString::fromUtf8("horizontalLayout"));
        label = new QLabel(dialog);
        label->setObjectName(QString::fromUtf8("label"));

        horizontalLayout->addWidget(label);

        leFind = new QLineEdit(dialog);
        leFind->setObjectName(QString::fromUtf8("leFind"));

        horizontalLayout->addWidget(leFind);

        verticalLayout->addLayout(horizontalLayout);

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setSpacing(0);
        horizontalLayout_2->setObjectName(QString::fromUtf8("horizontalLayout_2"));
        horizontalSpacer = new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum);

        horizontalLayout_2->addItem(horizontalSpacer);

        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setSpacing(6);
        horizontalLayout_3->setObjectName(QString::fromUtf8("horizontalLayout_3"));
        bCancel = new QPushButton(dialog);
        bCancel->setObjectName(QString::fromUtf8("bCancel"));

        horizontalLayout_3->addWidget(bCancel);

        bFind = new QPushButton(dialog);
        bFind->setObjectName(QString::fromUtf8("bFind"));

        horizontalLayout_3->addWidget(bFind);

        horizontalLayout_2->addLayout(horizontalLayout_3);

        verticalLayout->addLayout(horizontalLayout_2);

        retranslateUi(dialog);

        bFind->setDefault(true);
    }

    void retranslateUi(QDialog* dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("FindDialog", "Varnisk"));
        label->setText(QCoreApplication::translate("FindDialog", "Find:"));
        bCancel->setText(QCoreApplication::translate("FindDialog", "&Cancel"));
        bFind->setText(QCoreApplication::translate("FindDialog", "Find next..."));
    }
};
} // namespace Ui
