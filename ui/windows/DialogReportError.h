#pragma once

#include "windows/BaseDialog.h"

namespace Ui {
class DialogReportError;
}

// The false-alarm report form: the wrong text, its sentence and a note.
// Send accepts the dialog; any other way out rejects it.
class SCHOLIA_EXPORT DialogReportError : public BaseDialog
{
    Q_OBJECT
public:
    explicit DialogReportError(QWidget* parent = nullptr);
    ~DialogReportError() override;

    void setData(const QString& errorText, const QString& sentence);
    QString errorText() const;
    QString sentence() const;
    QString note() const;

private slots:
    void on_btnSend_clicked();

private:
    Ui::DialogReportError* ui;
};
