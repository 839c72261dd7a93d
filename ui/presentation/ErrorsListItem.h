#pragma once

#include "ScholiaGlobal.h"

#include <QString>
#include <QWidget>

namespace Ui {
class ErrorsListItem;
}

// One suggestion of a finding: its text with the characters that differ from
// the wrong text in red, a grey count, and Apply and Dict buttons on hover.
class SCHOLIA_EXPORT ErrorsListItem : public QWidget
{
    Q_OBJECT
public:
    explicit ErrorsListItem(QWidget* parent = nullptr);
    ~ErrorsListItem() override;

    void setData(const QString& itemTitle, int count, const QString& groupTitle, int groupIndex, int itemIndex);

    // Rich text of a suggestion against the wrong text: shared characters plain,
    // the suggestion's own characters red, characters only in the wrong text
    // left out, "*" shown as "...", then " (count)" in grey unless count < 0.
    // All texts are HTML-escaped.
    static QString suggestionHtml(const QString& itemTitle, const QString& groupTitle, int count);

    QString itemTitle() const { return m_itemTitle; }
    QString groupTitle() const { return m_groupTitle; }
    int itemIndex() const { return m_itemIndex; }
    int groupIndex() const { return m_groupIndex; }

signals:
    void apply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex);

private slots:
    void on_labelText_clicked();
    void on_labelText_doubleClick();
    void on_btnApply_clicked();
    void on_btnDict_clicked();
    // Consumes presses so that no window drag starts from an item.
    void mousePressEvent(QMouseEvent* event) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Ui::ErrorsListItem* ui;
    QString m_itemTitle;
    QString m_groupTitle;
    int m_itemIndex = -1;
    int m_groupIndex = -1;
};
