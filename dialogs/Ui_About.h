#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QSpacerItem>
#include <QVBoxLayout>

// The form of About, written in the shape a form compiler would produce.
namespace Ui {
class About
{
public:
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QLabel* label;
    QSpacerItem* horizontalSpacer_2;
    QSpacerItem* verticalSpacer;
    QLabel* lText;
    QSpacerItem* verticalSpacer_2;
    QLabel* label_3;
    QLabel* lLicense;
    QSpacerItem* verticalSpacer_3;

    void setupUi(QDialog* dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName(QString::fromUtf8("About"));
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->resize(414, 393);
        QSizePolicy sizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
        sizePolicy.setHorizontalStretch(0);
        sizePolicy.setVerticalStretch(0);
        sizePolicy.setHeightForWidth(dialog->sizePolicy().hasHeightForWidth());
        dialog->setSizePolicy(sizePolicy);
        QIcon icon;
        icon.addFile(QString::fromUtf8(":/Varnisk/Resources/logo48.png"), QSize(), QIcon::Normal,
                     QIcon::Off);
        dialog->setWindowIcon(icon);
        dialog->setModal(true);
        verticalLayout = new QVBoxLayout(dialog);
        verticalLayout->setSpacing(0);
        verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
        verticalLayout->setContentsMargins(0, 0, 0, 0);
        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setSpacing(0);
        horizontalLayout->setObjectName(QString::fromUtf8("horizontalLayout"));
        horizontalLayout->setContentsMargins(-1, -1, -1, 10);
        horizontalSpacer =
            new QSpacerItem(0, 20, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum);

        horizontalLayout->addItem(horizontalSpacer);

        label = new QLabel(dialog);
        label->setObjectName(QString::fromUtf8("label"));
        label->setMinimumSize(QSize(412, 287));
        label->setMaximumSize(QSize(412, 287));
        label->setPixmap(QPixmap(QString::fromUtf8(":/Varnisk/Resources/splash.jpg")));
        label->setScaledContents(true);

        horizontalLayout->addWidget(label);

        horizontalSpacer_2 =
            new QSpacerItem(0, 20, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum);

        horizontalLayout->addItem(horizontalSpacer_2);

        verticalLayout->addLayout(horizontalLayout);

        verticalSpacer =
            new QSpacerItem(20, 0, QSizePolicy::Minimum, QSizePolicy::MinimumExpanding);

        verticalLayout->addItem(verticalSpacer);

        lText = new QLabel(dialog);
        lText->setObjectName(QString::fromUtf8("lText"));
        QFont font;
        font.setBold(true);
        font.setWeight(75);
        lText->setFont(font);
        lText->setAlignment(Qt::AlignCenter);
        lText->setOpenExternalLinks(false);

        verticalLayout->addWidget(lText);

        verticalSpacer_2 =
            new QSpacerItem(20, 0, QSizePolicy::Minimum, QSizePolicy::MinimumExpanding);

        verticalLayout->addItem(verticalSpacer_2);

        label_3 = new QLabel(dialog);
        label_3->setObjectName(QString::fromUtf8("label_3"));
        label_3->setTextFormat(Qt::RichText);
        label_3->setScaledContents(false);
        label_3->setAlignment(Qt::AlignCenter);
        label_3->setMargin(10);
        label_3->setOpenExternalLinks(true);

        verticalLayout->addWidget(label_3);

        lLicense = new QLabel(dialog);
        lLicense->setObjectName(QString::fromUtf8("lLicense"));
        lLicense->setAlignment(Qt::AlignCenter);

        verticalLayout->addWidget(lLicense);

        verticalSpacer_3 =
            new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::MinimumExpanding);

        verticalLayout->addItem(verticalSpacer_3);

        retranslateUi(dialog);
    }

    void retranslateUi(QDialog* dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("About", "Varnisk"));
        label_3->setText(QCoreApplication::translate(
            "About", "<html><head/><body><p><a href=\"https://www.example.org/varnisk/\"><span "
                     "style=\" text-decoration: underline; color:#0000ff;\">"
                     "www.example.org/varnisk</span></a></p></body></html>"));
    }
};
} // namespace Ui
