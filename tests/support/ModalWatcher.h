#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class QDialog;
class QMessageBox;

// Answers modal windows so that no test blocks on them. While alive it looks
// for the active modal widget every few milliseconds: a QMessageBox has its
// text recorded and its default (or first) button clicked; any other dialog
// goes to the handler, or is rejected when there is none.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalWatcher(QObject* parent = nullptr);

    // Called for each modal dialog that is not a message box; the handler
    // must end the dialog (fill fields and click, accept, done(...)).
    void setDialogHandler(std::function<void(QDialog*)> handler) { m_handler = std::move(handler); }

    QStringList messages() const { return m_messages; }
    QString lastMessage() const { return m_messages.value(m_messages.size() - 1); }
    int dialogsSeen() const { return m_dialogs; }
    void clear()
    {
        m_messages.clear();
        m_dialogs = 0;
    }

private:
    void poll();

    QTimer m_timer;
    QStringList m_messages;
    int m_dialogs = 0;
    std::function<void(QDialog*)> m_handler;
    QObject* m_lastHandled = nullptr;
};
