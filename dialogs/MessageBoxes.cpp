#include "MessageBoxes.h"

#include <QFileInfo>
#include <QMessageBox>

void MessageBoxes::critical(QWidget* parent, const QString& text)
{
    QMessageBox::critical(parent, QStringLiteral("Varnisk"), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

void MessageBoxes::information(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QStringLiteral("Varnisk"), text, QMessageBox::Ok,
                             QMessageBox::NoButton);
}

void MessageBoxes::report(QWidget* parent, const Result& result,
                          OutcomeMessage::Operation operation)
{
    if (result.outcome != Result::Outcome::Cancelled)
        critical(parent, OutcomeMessage::text(result, operation));
}

QString MessageBoxes::fileLine(const QString& path)
{
    return tr("File: %1").arg(QFileInfo(path).fileName());
}
