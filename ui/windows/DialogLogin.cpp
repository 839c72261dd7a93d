#include "windows/DialogLogin.h"
#include "client/Revisor.h"
#include "ui_DialogLogin.h"

DialogLogin::DialogLogin(QWidget* parent)
    : BaseDialog(parent)
    , ui(new Ui::DialogLogin)
{
    ui->setupUi(this);
}

DialogLogin::~DialogLogin()
{
    delete ui;
}

void DialogLogin::setUserName(const QString& name)
{
    ui->editUserName->setText(name);
}

QString DialogLogin::username() const
{
    return ui->editUserName->text();
}

QString DialogLogin::password() const
{
    return ui->editPassword->text();
}

void DialogLogin::on_btnLogin_clicked()
{
    Revisor* revisor = getRevisor();
    if (m_doLogin && revisor) {
        ui->btnLogin->setEnabled(false);
        const bool ok = revisor->login(username(), password(), 0);
        ui->btnLogin->setEnabled(true);
        if (!ok)
            return;
    }
    done(ResultLogin);
    close();
}

void DialogLogin::on_btnRegister_clicked()
{
    done(ResultRegister);
    if (Revisor* revisor = getRevisor())
        revisor->openWebUrl(URL_REGISTER);
    close();
}
