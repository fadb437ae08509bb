#pragma once

#include <QObject>

class QPlainTextEdit;

// Keeps the editor's text from being dragged out of it. A drag offers the selected text to
// every program that takes drops, and one that the pointer merely passes over can read it
// before anything is dropped. So a press inside the selection, where a drag would begin, starts
// a new selection instead, as a press anywhere else does. Dropping into the editor still works.
class DragOutBlocker : public QObject
{
    Q_OBJECT

public:
    explicit DragOutBlocker(QPlainTextEdit* editor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* const editor;
};
