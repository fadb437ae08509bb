#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

class QFileDialog;

// Answers the modal dialogs and message boxes a test provokes, one scripted step per dialog,
// in the order they appear; while several scripts live, the newest answers. A dialog that appears
// when no step is left is rejected and recorded in `unexpected`, so a wrong flow fails the test
// instead of hanging it. A dialog that was showing already when the script began (the one a test
// drives itself) is answered by a step if one is left, but never rejected.
class ModalScript : public QObject
{
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript();
    ~ModalScript() override;

    ModalScript& then(Step step);

    // Common steps.
    ModalScript& chooseFile(const QString& path);  // a QFileDialog: select and accept
    ModalScript& replaceFile(const QString& path); // the same, replacing without a question
    ModalScript& cancel();                         // any dialog: reject
    ModalScript& password(const QByteArray& utf8); // PasswordDialog: type, Ok
    // PasswordConfirmDialog: type both, set its check box for version 6 to `stronger` (noting
    // in `offered` how it was offered), Ok.
    ModalScript& passwords(const QByteArray& first, const QByteArray& second, bool stronger = false,
                           bool* offered = nullptr);
    ModalScript& message(QString* text = nullptr); // a QMessageBox: note its text, Ok
    ModalScript& answer(int button);               // a QMessageBox: press that button
    ModalScript& press(const QString& caption);    // a QMessageBox: press the button so named
    // Records what the file dialog proposes (directory + selected name) and cancels it.
    ModalScript& noteProposal(QString* path);

    // Puts a path into a file dialog the way a user picks it.
    static void enterFileName(QFileDialog* dialog, const QString& path);

    // Every step ran to its end (a step may itself wait in further dialogs).
    bool done() const { return steps.empty() && running == 0; }
    // Runs the event loop until every step ran (or the time is up).
    bool waitUntilDone(int timeoutMs = 20000);

    QStringList messages; // texts of every message box answered by message()/answer()
    QStringList unexpected;
    QStringList unexpectedMessages; // texts of the message boxes among `unexpected`

private:
    void poll();

    std::deque<Step> steps;
    QPointer<QWidget> last;
    QPointer<QWidget> showingBefore;
    // The confirmation dialog whose Ok passwords() is pressing: its question about a weak
    // password is answered Yes, as by a user who chose that password.
    QPointer<QWidget> acceptingWeak;
    int running = 0;
    QTimer timer;
};

// Types text into a widget through real key events, one character at a time.
void typeText(QWidget* widget, const QString& text);
