#pragma once

#include "windows/BaseDialog.h"

namespace Ui {
class DialogLogin;
}

// Asks for user name and password. In do-login mode (the default) the dialog
// logs in itself and stays open when that fails; otherwise it only collects
// the credentials for its caller.
class SCHOLIA_EXPORT DialogLogin : public BaseDialog
{
    Q_OBJECT
public:
    // Result codes of exec(); closing the dialog otherwise gives Rejected.
    enum Result { ResultLogin = 2, ResultRegister = 3 };

    explicit DialogLogin(QWidget* parent = nullptr);
    ~DialogLogin() override;

    void setDoLogin(bool doLogin) { m_doLogin = doLogin; }
    void setUserName(const QString& name);
    QString username() const;
    QString password() const;

private slots:
    void on_btnLogin_clicked();
    void on_btnRegister_clicked();

private:
    Ui::DialogLogin* ui;
    bool m_doLogin = true;
};
