#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class SecureLineEdit;
class SecureStringHolder;

// What a locked window shows instead of its document: the document's name, a password field
// (typed straight into the caller's holder; Return unlocks) and an Unlock button, and nothing of
// the text. A document without a password (never saved) is sealed under a key of its own:
// the page says plainly that anyone at this computer can unlock it, and asks for nothing.
class LockPage : public QWidget
{
    Q_OBJECT

public:
    LockPage(SecureStringHolder* password, QWidget* parent);

    // Shows `documentName` and asks for its password when `needsPassword`; the field starts empty
    // and takes the focus.
    void prepare(const QString& documentName, bool needsPassword);
    // Empties the field and wipes what was typed.
    void clear();

signals:
    void unlockRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    SecureStringHolder* const password;
    QLabel* lName;
    QLabel* lNoPassword;
    QLabel* lPassword;
    SecureLineEdit* slePassword;
    QPushButton* bUnlock;
};
