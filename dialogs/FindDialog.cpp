#include "FindDialog.h"

#include "ui_FindDialog.h"

FindDialog::FindDialog(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::FindDialog>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    connect(ui->bFind, &QPushButton::clicked, this, &FindDialog::findNext);
    // Cancel only hides the dialog: the owner shows it again, search text and all.
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

FindDialog::~FindDialog() = default;

QString FindDialog::searchText() const
{
    return ui->leFind->text();
}

void FindDialog::forgetSearchText()
{
    // Unlike clear(), which can be undone, setText() drops the field's undo history as well.
    ui->leFind->setText(QString());
}
