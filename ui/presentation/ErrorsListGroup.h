#pragma once

#include "ScholiaGlobal.h"

#include <QColor>
#include <QString>
#include <QWidget>

namespace Ui {
class ErrorsListGroup;
}
class ErrorsListItem;

// One finding in the error list: a title bar with the wrong text and its type,
// a dictionary button shown on hover, an expand/collapse button, and below it
// the suggestions.
class SCHOLIA_EXPORT ErrorsListGroup : public QWidget
{
    Q_OBJECT
public:
    explicit ErrorsListGroup(QWidget* parent = nullptr);
    ~ErrorsListGroup() override;

    void setTitle(const QString& title, const QString& typeText);
    void setIndex(int groupIndex);
    ErrorsListItem* addItem(const QString& text, int count, int groupIndex, int itemIndex);

    QString title() const { return m_title; }
    int groupIndex() const { return m_groupIndex; }
    bool isExpanded() const;

private slots:
    void on_btnExpendGroup_clicked();
    void on_labelTitle_clicked();
    void on_btnDict_clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setExpanded(bool expanded);

    Ui::ErrorsListGroup* ui;
    QString m_title;
    int m_groupIndex = -1;
    QColor m_titleColor; // ground of the title bar
};
