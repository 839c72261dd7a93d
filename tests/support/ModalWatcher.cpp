#include "ModalWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

ModalWatcher::ModalWatcher(QObject* parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(5);
}

void ModalWatcher::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == m_lastHandled)
        return;
    // A dialog is handled once; if its handler leaves it open, it stays for the test to close.
    m_lastHandled = modal;
    connect(modal, &QObject::destroyed, this, [this, modal] {
        if (m_lastHandled == modal)
            m_lastHandled = nullptr;
    });
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        m_messages.append(box->text());
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        else
            box->done(0);
        m_lastHandled = nullptr;
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        ++m_dialogs;
        if (m_handler)
            m_handler(dialog);
        else
            dialog->reject();
        if (!dialog->isVisible())
            m_lastHandled = nullptr;
    }
}
