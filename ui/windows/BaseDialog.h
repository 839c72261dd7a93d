#pragma once

#include "ScholiaGlobal.h"

#include <QDialog>

// Base of every dialog of the library: one window style (dialog, on top, close
// button, the product icon) and Escape closes the dialog.
class SCHOLIA_EXPORT BaseDialog : public QDialog
{
    Q_OBJECT
public:
    explicit BaseDialog(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
