#include "presentation/ErrorsListGroup.h"
#include "presentation/ErrorsListItem.h"
#include "presentation/QtAwesome.h"
#include "client/Revisor.h"
#include "ui_ErrorsListGroup.h"

namespace {

const int kAngleDown = 0xf107;
const int kAngleLeft = 0xf104;
const int kBook = 0xf02d;

QIcon glyph(int codePoint, const QColor& color)
{
    QtAwesome* awesome = getAwesome();
    return awesome ? awesome->iconFor(codePoint, makeIconOptions(color)) : QIcon();
}

} // namespace

ErrorsListGroup::ErrorsListGroup(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ErrorsListGroup)
{
    ui->setupUi(this);
    ui->btnDict->setIcon(glyph(kBook, QColor(0, 122, 204)));
    ui->btnDict->hide();
    setExpanded(true);
}

ErrorsListGroup::~ErrorsListGroup()
{
    QLayout* layout = ui->widgetItems->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    delete ui;
}

void ErrorsListGroup::setTitle(const QString& title, const QString& typeText)
{
    m_title = title;
    ui->labelTitle->setText(QStringLiteral("<b>") + title.toHtmlEscaped() + QStringLiteral("</b>"));
    ui->labelTitle2->setText(typeText);
}

void ErrorsListGroup::setIndex(int groupIndex)
{
    m_groupIndex = groupIndex;
}

ErrorsListItem* ErrorsListGroup::addItem(const QString& text, int count, int groupIndex, int itemIndex)
{
    auto* item = new ErrorsListItem(this);
    item->setData(text, count, m_title, groupIndex, itemIndex);
    ui->widgetItems->layout()->addWidget(item);
    return item;
}

bool ErrorsListGroup::isExpanded() const
{
    return !ui->widgetItems->isHidden();
}

void ErrorsListGroup::setExpanded(bool expanded)
{
    ui->widgetItems->setVisible(expanded);
    ui->btnExpendGroup->setIcon(glyph(expanded ? kAngleDown : kAngleLeft, QColor(100, 100, 100)));
}

void ErrorsListGroup::on_btnExpendGroup_clicked()
{
    setExpanded(!isExpanded());
}

void ErrorsListGroup::on_labelTitle_clicked()
{
    setExpanded(!isExpanded());
}

void ErrorsListGroup::on_btnDict_clicked()
{
    if (Revisor* revisor = getRevisor())
        revisor->openDictUrl(m_title);
}

void ErrorsListGroup::enterEvent(QEvent* event)
{
    QWidget::enterEvent(event);
    ui->btnDict->show();
}

void ErrorsListGroup::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    ui->btnDict->hide();
}
