#include "windows/BaseDialog.h"
#include "windows/WindowFlags.h"

#include <QIcon>
#include <QKeyEvent>

BaseDialog::BaseDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | bypassWindowManagerHint() | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/images/icon128.png")));
}

void BaseDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        close();
    QDialog::keyPressEvent(event);
}
