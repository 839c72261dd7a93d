#include "presentation/ErrorsListGroup.h"
#include "presentation/ErrorsListItem.h"
#include "presentation/ListColors.h"
#include "presentation/QtAwesome.h"
#include "client/Revisor.h"
#include "ui_ErrorsListGroup.h"

#include <QPainter>

namespace {

const int kAngleDown = 0xf107;
const int kAngleLeft = 0xf104;
const int kBook = 0xf02d;

QIcon glyph(int codePoint, const QColor& color)
{
    QtAwesome* awesome = getAwesome();
    return awesome ? awesome->iconFor(codePoint, makeIconOptions(color)) : QIcon();
}

// The icons are the same for every group: made once.
const QIcon& bookIcon()
{
    static const QIcon icon = glyph(kBook, QColor(0, 122, 204));
    return icon;
}

const QIcon& expandIcon(bool expanded)
{
    static const QIcon down = glyph(kAngleDown, QColor(100, 100, 100));
    static const QIcon left = glyph(kAngleLeft, QColor(100, 100, 100));
    return expanded ? down : left;
}

} // namespace

ErrorsListGroup::ErrorsListGroup(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ErrorsListGroup)
    , m_titleColor(ListColors::titleNormal)
{
    ui->setupUi(this);
    ui->widgetTitle->installEventFilter(this);
    ui->btnDict->setIcon(bookIcon());
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
    // Bold through the font rather than "<b>" markup: plain text needs no text
    // document per group, and no escaping of the service's text.
    ui->labelTitle->setText(title);
    ui->labelTitle2->setText(typeText);
}

void ErrorsListGroup::setIndex(int groupIndex)
{
    m_groupIndex = groupIndex;
}

ErrorsListItem* ErrorsListGroup::addItem(const QString& text, int count, int groupIndex, int itemIndex)
{
    auto* item = new ErrorsListItem(ui->widgetItems);
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
    ui->btnExpendGroup->setIcon(expandIcon(expanded));
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

bool ErrorsListGroup::eventFilter(QObject* watched, QEvent* event)
{
    // The title bar paints its own ground, darker under the pointer and while
    // pressed (painted here: a palette per group costs more to set up).
    if (watched == ui->widgetTitle) {
        const QColor before = m_titleColor;
        switch (event->type()) {
        case QEvent::Paint: {
            QPainter painter(ui->widgetTitle);
            painter.fillRect(ui->widgetTitle->rect(), m_titleColor);
            break;
        }
        case QEvent::Enter:
        case QEvent::MouseButtonRelease:
            m_titleColor = ListColors::titleHover;
            break;
        case QEvent::Leave:
            m_titleColor = ListColors::titleNormal;
            break;
        case QEvent::MouseButtonPress:
            m_titleColor = ListColors::titlePressed;
            break;
        default:
            break;
        }
        if (m_titleColor != before)
            ui->widgetTitle->update();
    }
    return QWidget::eventFilter(watched, event);
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
