#include "windows/DialogContact.h"
#include "client/Revisor.h"
#include "ui_DialogContact.h"

DialogContact::DialogContact(QWidget* parent)
    : BaseDialog(parent)
    , ui(new Ui::DialogContact)
{
    ui->setupUi(this);
}

DialogContact::~DialogContact()
{
    delete ui;
}

void DialogContact::on_btnSend_clicked()
{
    Revisor* revisor = getRevisor();
    if (!revisor)
        return;
    if (ui->editMsg->toPlainText().isEmpty()) {
        revisor->showMsgBox(tr("Please input message."), QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    close();
}
