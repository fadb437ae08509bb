#include "PasswordPrompt.h"

#include "dialogs/MessageBoxes.h"

#include <QFormLayout>
#include <QLabel>

void PasswordPrompt::setFileName(const QString& path)
{
    if (lFile != nullptr)
        lFile->setText(MessageBoxes::fileLine(path));
}

void PasswordPrompt::addFileLine(QFormLayout* form)
{
    lFile = new QLabel(this);
    lFile->setObjectName(QStringLiteral("lFile"));
    lFile->setTextFormat(Qt::PlainText);
    form->addRow(lFile);
}
