#include "windows/DialogReportError.h"
#include "ui_DialogReportError.h"

DialogReportError::DialogReportError(QWidget* parent)
    : BaseDialog(parent)
    , ui(new Ui::DialogReportError)
{
    ui->setupUi(this);
}

DialogReportError::~DialogReportError()
{
    delete ui;
}

void DialogReportError::setData(const QString& errorText, const QString& sentence)
{
    ui->editError->setText(errorText);
    ui->editSentence->setPlainText(sentence);
    ui->editNote->clear();
}

QString DialogReportError::errorText() const
{
    return ui->editError->text();
}

QString DialogReportError::sentence() const
{
    return ui->editSentence->toPlainText();
}

QString DialogReportError::note() const
{
    return ui->editNote->toPlainText();
}

void DialogReportError::on_btnSend_clicked()
{
    accept();
}
