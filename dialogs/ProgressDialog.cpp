#include "ProgressDialog.h"

#include "ui_ProgressDialog.h"

#include <QCloseEvent>
#include <QLocale>

ProgressDialog::ProgressDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::ProgressDialog>())
{
    ui->setupUi(this);
    // No close button: Cancel (or Escape) says what closing it would leave open.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::setProgress(const QString& text, quint64 done, quint64 total)
{
    const QLocale locale;
    const QString doneText = locale.formattedDataSize(static_cast<qint64>(done), 1);
    if (total == 0) {
        // A pipe tells no size: the bar only shows that the work goes on.
        ui->pbProgress->setRange(0, 0);
        ui->lProgress->setText(text + QLatin1Char('\n') + doneText);
        return;
    }
    const double share = qMin(1.0, static_cast<double>(done) / static_cast<double>(total));
    ui->pbProgress->setRange(0, 1000);
    ui->pbProgress->setValue(static_cast<int>(share * 1000));
    ui->lProgress->setText(
        text + QLatin1Char('\n') +
        tr("%1 of %2").arg(doneText, locale.formattedDataSize(static_cast<qint64>(total), 1)));
}

void ProgressDialog::closeEvent(QCloseEvent* event)
{
    // Only Cancel stops the operation. Quit closes every window, this one among them, and the
    // window that runs the operation refuses to go while it runs; so does this dialog.
    event->ignore();
}
