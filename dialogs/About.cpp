#include "About.h"

#include "InstallLayout.h"
#include "Version.h"
#include "ui_About.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

About::About(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::About>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // A product name and a number read the same in every language, so no translation here.
    ui->lText->setText(QStringLiteral("Varnisk, Version %1.%2")
                           .arg(static_cast<unsigned>(Version::major))
                           .arg(static_cast<unsigned>(Version::minor)));
    // The manual installed with the program (the varnisk(1) man page as HTML), found from the
    // program's own folder, so the link is right wherever the installation was put.
    const QUrl manual = QUrl::fromLocalFile(QDir::cleanPath(
        QCoreApplication::applicationDirPath() + QLatin1Char('/') +
        QString::fromUtf8(InstallLayout::documentation) + QStringLiteral("/varnisk.html")));
    ui->label_3->setText(QStringLiteral("<a href=\"%1\"><span style=\" text-decoration: underline; "
                                        "color:#0000ff;\">%2</span></a>")
                             .arg(manual.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                  tr("Varnisk manual").toHtmlEscaped()));
    ui->lLicense->setText(tr("Varnisk is free software: you can redistribute\n"
                             "it and/or modify it under the terms of the\n"
                             "GNU General Public License, version 3 or later.\n"
                             "It comes with ABSOLUTELY NO WARRANTY."));
}

About::~About() = default;
