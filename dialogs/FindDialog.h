#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class FindDialog;
}

// The small, modeless, see-through window that holds the search text of a main window. It only
// announces each Find next...; the searching itself belongs to the window that owns it.
class FindDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FindDialog(QWidget* parent);
    ~FindDialog() override;

    QString searchText() const;
    // Empties the search field, its undo history included: a search text can be a secret, and
    // goes with the document it was searched in.
    void forgetSearchText();

signals:
    void findNext();

private:
    std::unique_ptr<Ui::FindDialog> ui;
};
