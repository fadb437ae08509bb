#pragma once

#include "messages/OutcomeMessage.h"

#include <QCoreApplication>
#include <QString>

class QWidget;

// The program's message boxes: the window as parent, the untranslated title "Varnisk" and a
// single Ok button.
class MessageBoxes
{
    Q_DECLARE_TR_FUNCTIONS(MessageBoxes)

public:
    static void critical(QWidget* parent, const QString& text);
    static void information(QWidget* parent, const QString& text);
    // A failure in the user's words; a cancel, which the user asked for, shows nothing.
    static void report(QWidget* parent, const Result& result, OutcomeMessage::Operation operation);
    // The line under a question or a password's fields that names the file it is about.
    static QString fileLine(const QString& path);
};
