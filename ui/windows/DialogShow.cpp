#include "windows/DialogShow.h"
#include "presentation/QtAwesome.h"
#include "ui_DialogShow.h"

#include <QMenu>

DialogShow::DialogShow(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::DialogShow)
{
    ui->setupUi(this);

    QIcon gear;
    if (QtAwesome* awesome = getAwesome())
        gear = awesome->iconFor(0xf013, makeIconOptions(QColor(100, 100, 100)));

    m_menu = new QMenu(tr("Setting"), this);
    m_menu->setIcon(gear);
    // The action names are not in the catalogue: the panel is not opened anywhere.
    m_menu->addAction(gear, QStringLiteral("Hide Other Windows"));
    m_menu->addAction(gear, QStringLiteral("Hide Toolbars && Menus")); // "&&" shows one "&"
    m_menu->addAction(gear, QStringLiteral("Full Screen"));

    ui->btnSetting->setText(m_menu->title());
    ui->btnSetting->setIcon(gear);
    ui->btnSetting->setMenu(m_menu);
}

DialogShow::~DialogShow()
{
    delete ui;
}
