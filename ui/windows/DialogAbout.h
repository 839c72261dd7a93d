#pragma once

#include "windows/BaseDialog.h"

namespace Ui {
class DialogAbout;
}

// The about box: product icon, product name with the client version, and a
// link to the checking service's web site.
class SCHOLIA_EXPORT DialogAbout : public BaseDialog
{
    Q_OBJECT
public:
    explicit DialogAbout(QWidget* parent = nullptr);
    ~DialogAbout() override;

private slots:
    void on_btnOk_clicked();

private:
    Ui::DialogAbout* ui;
};
