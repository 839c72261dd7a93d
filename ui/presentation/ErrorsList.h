#pragma once

#include "ScholiaGlobal.h"
#include "utility/CheckData.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class ErrorsList;
}
class ErrorsListGroup;

// The scrolling list of the error popup: one collapsible group per finding,
// each with its suggestions. It keeps no finding; it reports the height and
// width its content needs (maxHeightChanged) and passes applied suggestions on.
class SCHOLIA_EXPORT ErrorsList : public QWidget
{
    Q_OBJECT
public:
    explicit ErrorsList(QWidget* parent = nullptr);
    ~ErrorsList() override;

    // Adds a group for the finding, reporting groupIndex with its suggestions;
    // returns the group's position in the list, -1 for a null finding.
    int addCheckData(std::shared_ptr<CCheckData> data, int groupIndex);
    void addSuggestion(ErrorsListGroup* group, const CDataItemValue* value, int groupIndex, int itemIndex);
    // Removes every group (deferred deletion) and reports (0, 0).
    void clear();
    // Closes the list with a stretch after the last group.
    void addStretch();

    // The finding's type text: its error-type names joined by "·", then "error".
    static QString typeText(int typeBits);

signals:
    void apply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex);
    void maxHeightChanged(int maxHeight, int maxWidth);

public slots:
    void onItemApply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex);

protected:
    void showEvent(QShowEvent* event) override;

private:
    Ui::ErrorsList* ui;
    QString m_title;
    int m_lastHeight = 0;
    int m_lastWidth = 0;
};
