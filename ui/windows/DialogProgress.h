#pragma once

#include "windows/BaseDialog.h"

namespace Ui {
class DialogProgress;
}

// The progress box of a check run: a title, a 0–100 bar and Cancel. Cancel,
// Escape and the window's close button all stop the run: each emits cancel()
// once and hides the box. hide() only hides it (the run ended by itself).
class SCHOLIA_EXPORT DialogProgress : public BaseDialog
{
    Q_OBJECT
public:
    explicit DialogProgress(QWidget* parent = nullptr);
    ~DialogProgress() override;

    void setProgress(int value);
    int progress() const;
    void setTitle(const QString& text);
    void hide();
    void reject() override;

signals:
    // The user asked to stop the request in flight.
    void cancel();

private slots:
    void on_btnCancel_clicked();

private:
    Ui::DialogProgress* ui;
};
