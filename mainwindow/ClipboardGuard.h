#pragma once

#include <QMimeData>
#include <QObject>
#include <QPointer>

class QWidget;

// Keeps a window's text from spreading through the X11 selections. Qt offers every selection
// made in a text field to all other programs as the primary selection; the guard withdraws it
// at once, before any of them can ask for it (pasting from the primary selection still works).
// Text copied or cut to the clipboard is marked "x-kde-passwordManagerHint: secret", so that
// clipboard managers do not keep it, and the clipboard is emptied when the window closes, if it
// still holds what the window put there.
class ClipboardGuard : public QObject
{
    Q_OBJECT

public:
    explicit ClipboardGuard(QWidget* window);

    // Called as the window closes.
    void windowClosing();

private:
    void selectionChanged();
    void clipboardChanged();
    bool windowHasFocus() const;

    QWidget* const window;
    // What this window last put on the clipboard; null once anything replaced it.
    QPointer<const QMimeData> copied;
};
