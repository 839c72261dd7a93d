#pragma once

#include "windows/BaseDialog.h"

namespace Ui {
class DialogContact;
}

// A contact form: a message and an optional e-mail address. Send closes the
// form when a message was written and asks for one otherwise.
class SCHOLIA_EXPORT DialogContact : public BaseDialog
{
    Q_OBJECT
public:
    explicit DialogContact(QWidget* parent = nullptr);
    ~DialogContact() override;

private slots:
    void on_btnSend_clicked();

private:
    Ui::DialogContact* ui;
};
