#include "About.h"

#include "Ui_About.h"
#include "Version.h"

About::About(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::About>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // A product name and a number read the same in every language, so no translation here.
    ui->lText->setText(QStringLiteral("Varnisk, Version %1.%2")
                           .arg(static_cast<unsigned>(Version::major))
                           .arg(static_cast<unsigned>(Version::minor)));
    ui->lLicense->setText(tr("Varnisk is free software: you can redistribute\n"
                             "it and/or modify it under the terms of the\n"
                             "GNU General Public License, version 3 or later.\n"
                             "It comes with ABSOLUTELY NO WARRANTY."));
}

About::~About() = default;
