#include "presentation/ErrorsList.h"
#include "presentation/ErrorsListGroup.h"
#include "presentation/ErrorsListItem.h"
#include "ui_ErrorsList.h"

#include <QLayoutItem>
#include <QPalette>
#include <QScrollBar>

namespace {

// Thin scroll bars: a translucent handle on white, no arrows.
const char* const kScrollBarStyle =
    "QScrollBar:vertical { background: transparent; background: rgba(255,255,255,255); width: 8px; }\n"
    "QScrollBar:horizontal { background: transparent; background: rgba(255,255,255,255); height: 8px; }\n"
    "QScrollBar::handle { background: rgba(0,0,0,25%); border-radius: 4px; }\n"
    "QScrollBar::handle:hover { background: rgba(0,0,0,50%); }\n"
    "QScrollBar::handle:pressed { background: rgba(0,0,0,80%); }\n"
    "QScrollBar::add-line, QScrollBar::sub-line { background: transparent; height: 0px; width: 0px; }\n"
    "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }\n"
    "QScrollBar::up-arrow, QScrollBar::down-arrow { background: transparent; height: 0px; width: 0px; }";

void setWhiteWindow(QWidget* widget, const QPalette& base)
{
    QPalette palette = base;
    palette.setColor(QPalette::All, QPalette::Window, QColor(255, 255, 255));
    widget->setPalette(palette);
}

} // namespace

ErrorsList::ErrorsList(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ErrorsList)
{
    ui->setupUi(this);
    const QPalette base = palette();
    setWhiteWindow(this, base);
    setWhiteWindow(ui->scrollAreaWidgetContents, base);
    // The style sheet goes on the scroll bars alone: set on the scroll area it
    // would cascade to every group and item and make filling the list slow.
    ui->scrollArea->verticalScrollBar()->setStyleSheet(QLatin1String(kScrollBarStyle));
    ui->scrollArea->horizontalScrollBar()->setStyleSheet(QLatin1String(kScrollBarStyle));
}

ErrorsList::~ErrorsList()
{
    delete ui;
}

QString ErrorsList::typeText(int typeBits)
{
    struct TypeName
    {
        int bit;
        const char* key;
    };
    static const TypeName names[] = {
        {ERROR_TYPE_TONG_YIN, QT_TR_NOOP("ERROR_TYPE_TONG_YIN")},
        {ERROR_TYPE_DAN_ZI, QT_TR_NOOP("ERROR_TYPE_DAN_ZI")},
        {ERROR_TYPE_MIN_GAN_CI, QT_TR_NOOP("ERROR_TYPE_MIN_GAN_CI")},
        {ERROR_TYPE_XING_JIN, QT_TR_NOOP("ERROR_TYPE_XING_JIN")},
        {ERROR_TYPE_YIN_JIN, QT_TR_NOOP("ERROR_TYPE_YIN_JIN")},
        {ERROR_TYPE_SKIP, QT_TR_NOOP("ERROR_TYPE_SKIP")},
    };
    QString text;
    for (const TypeName& name : names) {
        if (!(typeBits & name.bit))
            continue;
        if (!text.isEmpty())
            text += QChar(0x00B7);
        text += tr(name.key);
    }
    return text + tr("error");
}

int ErrorsList::addCheckData(std::shared_ptr<CCheckData> data, int groupIndex)
{
    if (!data)
        return -1;
    m_title = QString::fromStdString(data->text);

    // Created in the widget that the layout puts it in, which saves a reparenting.
    auto* group = new ErrorsListGroup(ui->scrollAreaWidgetContents);
    group->setTitle(m_title, typeText(data->type));
    group->setIndex(groupIndex);
    ui->verticalLayoutScroll->addWidget(group);
    const int position = ui->verticalLayoutScroll->indexOf(group);

    if (data->suggestions) {
        const std::vector<CDataItemValue>& suggestions = *data->suggestions;
        for (size_t i = 0; i < suggestions.size(); ++i)
            addSuggestion(group, &suggestions[i], groupIndex, static_cast<int>(i));
    }
    return position;
}

void ErrorsList::addSuggestion(ErrorsListGroup* group, const CDataItemValue* value, int groupIndex, int itemIndex)
{
    if (!group || !value)
        return;
    ErrorsListItem* item =
        group->addItem(QString::fromStdString(value->GetText()), value->GetCount(), groupIndex, itemIndex);
    if (item)
        connect(item, &ErrorsListItem::apply, this, &ErrorsList::onItemApply);
}

void ErrorsList::clear()
{
    // Deferred deletion: clear() may be reached from a slot of one of the items.
    while (QLayoutItem* item = ui->verticalLayoutScroll->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    m_lastHeight = 0;
    m_lastWidth = 0;
    emit maxHeightChanged(0, 0);
}

void ErrorsList::addStretch()
{
    ui->verticalLayoutScroll->addStretch(0);
}

void ErrorsList::onItemApply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex)
{
    emit apply(itemTitle, itemIndex, groupTitle, groupIndex);
}

void ErrorsList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    QLayout* layout = ui->verticalLayoutScroll;
    if (layout->count() == 0)
        return;
    // The trailing stretch starts where the last group ends.
    const QRect last = layout->itemAt(layout->count() - 1)->geometry();
    const int height = last.y();
    const int width = last.width() + 48;
    if (height == m_lastHeight && width == m_lastWidth)
        return;
    m_lastHeight = height;
    m_lastWidth = width;
    emit maxHeightChanged(height, width);
}
