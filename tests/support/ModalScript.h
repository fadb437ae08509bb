#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

// Answers the modal dialogs and message boxes a test provokes, one scripted step per dialog,
// in the order they appear. A dialog that appears when no step is left is rejected and
// recorded in `unexpected`, so a wrong flow fails the test instead of hanging it.
class ModalScript : public QObject
{
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript();
    ~ModalScript() override;

    ModalScript& then(Step step);

    // Common steps.
    ModalScript& chooseFile(const QString& path);     // a QFileDialog: select and accept
    ModalScript& cancel();                            // any dialog: reject
    ModalScript& password(const QByteArray& utf8);    // PasswordDialog: type, Ok
    ModalScript& passwords(const QByteArray& first,   // PasswordConfirmDialog: type both, Ok
                           const QByteArray& second);
    ModalScript& message(QString* text = nullptr);    // a QMessageBox: note its text, Ok
    ModalScript& answer(int button);                  // a QMessageBox: press that button
    // Records what the file dialog proposes (directory + selected name) and cancels it.
    ModalScript& noteProposal(QString* path, QString* filter = nullptr);

    bool done() const { return steps.empty(); }
    // Runs the event loop until every step ran (or the time is up).
    bool waitUntilDone(int timeoutMs = 20000);

    QStringList messages; // texts of every message box answered by message()/answer()
    QStringList unexpected;

private:
    void poll();

    std::deque<Step> steps;
    QPointer<QWidget> last;
    QTimer timer;
};

// Types text into a widget through real key events, one character at a time.
void typeText(QWidget* widget, const QString& text);
