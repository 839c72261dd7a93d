#include "presentation/ErrorsListItem.h"
#include "presentation/DiffEngine.h"
#include "presentation/ListColors.h"
#include "presentation/QtAwesome.h"
#include "client/Revisor.h"
#include "ui_ErrorsListItem.h"

#include <QPalette>

namespace {

const int kCheck = 0xf00c;
const int kBook = 0xf02d;

QIcon glyph(int codePoint, const QColor& color)
{
    QtAwesome* awesome = getAwesome();
    return awesome ? awesome->iconFor(codePoint, makeIconOptions(color)) : QIcon();
}

// The icons are the same for every row: made once.
const QIcon& applyIcon()
{
    static const QIcon icon = glyph(kCheck, QColor(0, 125, 0));
    return icon;
}

const QIcon& dictIcon()
{
    static const QIcon icon = glyph(kBook, QColor(0, 122, 204));
    return icon;
}

QString fromUtf16(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<int>(text.size()));
}

std::u16string toUtf16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

} // namespace

ErrorsListItem::ErrorsListItem(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ErrorsListItem)
{
    ui->setupUi(this);
    QPalette white = palette();
    white.setColor(QPalette::All, QPalette::Window, QColor(255, 255, 255));
    // Inside the list the item already inherits the white ground; setting it
    // again would only cost a palette propagation per row.
    if (palette().color(QPalette::Window) != QColor(255, 255, 255))
        setPalette(white);
    white.setColor(QPalette::All, QPalette::WindowText, ListColors::rowLine);
    ui->line->setPalette(white);
    ui->frameMore->setAutoFillBackground(true); // white, from the item's palette
    ui->frameMore->installEventFilter(this);

    ui->btnApply->setIcon(applyIcon());
    ui->btnDict->setIcon(dictIcon());
    ui->btnApply->hide();
    ui->btnDict->hide();
}

ErrorsListItem::~ErrorsListItem()
{
    delete ui;
}

QString ErrorsListItem::suggestionHtml(const QString& itemTitle, const QString& groupTitle, int count)
{
    static const QString redOpen = QStringLiteral("<span style=\"color:#ff0000;\">");
    static const QString spanClose = QStringLiteral("</span>");
    // Inside a red run, the dots of a "*" stay uncoloured.
    static const QString starInRed = QStringLiteral("</span>...<span style=\"color: #ff0000\">");
    static const QString star = QStringLiteral("*");
    static const QString dots = QStringLiteral("...");

    const DiffEngine engine;
    const DiffList diffs = engine.diff_main(toUtf16(itemTitle), toUtf16(groupTitle), true);

    // The texts come from the service: they are escaped so that "<" or "&"
    // show as themselves instead of being read as markup.
    QString html;
    for (const Diff& diff : diffs) {
        switch (diff.operation) {
        case DIFF_INSERT:
            break; // only in the wrong text: not shown
        case DIFF_DELETE:
            html += redOpen + fromUtf16(diff.text).toHtmlEscaped() + spanClose;
            html.replace(star, starInRed);
            break;
        case DIFF_EQUAL:
            html += fromUtf16(diff.text).toHtmlEscaped();
            html.replace(star, dots);
            break;
        }
    }
    if (count >= 0)
        html += QStringLiteral(" <span style=\"color: #666666\">(%1)</span>").arg(count);
    return html;
}

void ErrorsListItem::setData(const QString& itemTitle, int count, const QString& groupTitle, int groupIndex,
                             int itemIndex)
{
    m_itemTitle = itemTitle;
    m_groupTitle = groupTitle;
    m_itemIndex = itemIndex;
    m_groupIndex = groupIndex;
    ui->labelText->setText(suggestionHtml(itemTitle, groupTitle, count));
}

void ErrorsListItem::on_labelText_clicked()
{
}

void ErrorsListItem::on_labelText_doubleClick()
{
    emit apply(m_itemTitle, m_itemIndex, m_groupTitle, m_groupIndex);
}

void ErrorsListItem::on_btnApply_clicked()
{
    emit apply(m_itemTitle, m_itemIndex, m_groupTitle, m_groupIndex);
}

void ErrorsListItem::on_btnDict_clicked()
{
    if (Revisor* revisor = getRevisor())
        revisor->openDictUrl(m_itemTitle);
}

void ErrorsListItem::mousePressEvent(QMouseEvent* /*event*/)
{
}

bool ErrorsListItem::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->frameMore) {
        if (event->type() == QEvent::MouseButtonPress)
            ListColors::setBackground(ui->frameMore, ListColors::rowPressed);
        else if (event->type() == QEvent::MouseButtonRelease)
            ListColors::setBackground(ui->frameMore, ListColors::rowHover);
    }
    return QWidget::eventFilter(watched, event);
}

void ErrorsListItem::enterEvent(QEvent* event)
{
    QWidget::enterEvent(event);
    ListColors::setBackground(ui->frameMore, ListColors::rowHover);
    ui->btnApply->show();
    ui->btnDict->show();
}

void ErrorsListItem::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    ListColors::setBackground(ui->frameMore, ListColors::rowNormal);
    ui->btnApply->hide();
    ui->btnDict->hide();
}
