#pragma once

#include "ScholiaGlobal.h"

#include <QWidget>

namespace Ui {
class DialogShow;
}
class QMenu;

// A display-settings panel: a "Setting" menu with three display actions. The
// actions carry no behaviour yet.
class SCHOLIA_EXPORT DialogShow : public QWidget
{
    Q_OBJECT
public:
    explicit DialogShow(QWidget* parent = nullptr);
    ~DialogShow() override;

    QMenu* settingMenu() const { return m_menu; }

private:
    Ui::DialogShow* ui;
    QMenu* m_menu;
};
