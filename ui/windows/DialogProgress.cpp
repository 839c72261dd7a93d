#include "windows/DialogProgress.h"
#include "ui_DialogProgress.h"

DialogProgress::DialogProgress(QWidget* parent)
    : BaseDialog(parent)
    , ui(new Ui::DialogProgress)
{
    ui->setupUi(this);
}

DialogProgress::~DialogProgress()
{
    delete ui;
}

void DialogProgress::setProgress(int value)
{
    ui->progressBar->setValue(value);
}

int DialogProgress::progress() const
{
    return ui->progressBar->value();
}

void DialogProgress::setTitle(const QString& text)
{
    ui->label->setText(text);
}

void DialogProgress::hide()
{
    BaseDialog::hide();
}

void DialogProgress::reject()
{
    // Escape and the close button arrive here too, sometimes twice (close, then
    // the key itself): only the first, while the box is up, stops the run.
    if (isVisible())
        emit cancel();
    BaseDialog::reject();
}

void DialogProgress::on_btnCancel_clicked()
{
    reject();
}
