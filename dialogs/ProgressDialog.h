#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ProgressDialog;
}

// Shows how far a long file operation has come, window-modal over the window that runs it, with
// a Cancel button. Cancel, Escape and closing the dialog all reject it; whoever runs the
// operation stops it then and hides the dialog when the operation has ended.
class ProgressDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressDialog(QWidget* parent);
    ~ProgressDialog() override;

    // `text` names the operation; `done` of `total` bytes are through (a total of 0: unknown).
    void setProgress(const QString& text, quint64 done, quint64 total);

private:
    std::unique_ptr<Ui::ProgressDialog> ui;
};
