#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ProgressDialog;
}

// Shows how far a long file operation has come, window-modal over the window that runs it, with
// a Cancel button. Cancel and Escape reject it, and whoever runs the operation stops it then; it
// cannot be closed otherwise, and is hidden once the operation has ended.
class ProgressDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressDialog(QWidget* parent);
    ~ProgressDialog() override;

    // `text` names the operation; `done` of `total` bytes are through (a total of 0: unknown).
    void setProgress(const QString& text, quint64 done, quint64 total);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::ProgressDialog> ui;
};
