#pragma once

#include "ScholiaGlobal.h"

#include <QLabel>

// A label that reports clicks as signals. Presses are consumed, so a press on
// the label never starts a drag of the window below it.
class SCHOLIA_EXPORT ErrorLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ErrorLabel(QWidget* parent = nullptr);

signals:
    void clicked();      // left button released over the label
    void doubleClick();  // double-click with any button
    void rightClicked(); // right button released over the label

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
