#include "windows/DialogAbout.h"
#include "client/Revisor.h"
#include "ui_DialogAbout.h"

DialogAbout::DialogAbout(QWidget* parent)
    : BaseDialog(parent)
    , ui(new Ui::DialogAbout)
{
    ui->setupUi(this);

    Revisor* revisor = getRevisor();
    const QString version = revisor ? revisor->getClientVer() : QString();
    ui->lblQuillet->setText(tr("Quillet") + QLatin1Char(' ') + version);

    const QString url = revisor ? revisor->baseUrl().toHtmlEscaped() : QString();
    ui->lblLink->setText(
        tr("Copyright &copy; 2026 the Quillet developers. Proofreading service: <a href=\"%1\">%1</a>").arg(url));
}

DialogAbout::~DialogAbout()
{
    delete ui;
}

void DialogAbout::on_btnOk_clicked()
{
    close();
}
