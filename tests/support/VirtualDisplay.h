#pragma once

#include <QProcess>
#include <QString>

// A private X display for GUI tests: Xvfb on a free display number with the
// openbox window manager. start() exports DISPLAY to this process, so that
// the programs it starts draw there; both servers stop with the object.
class VirtualDisplay
{
public:
    ~VirtualDisplay();

    // Starts Xvfb with a screen of the given size, then openbox. False, with
    // the reason, when either is missing or does not come up.
    bool start(const QString& size, QString* reason);
    // ":N"; empty before start().
    QString display() const { return m_display; }

private:
    QProcess m_xvfb;
    QProcess m_windowManager;
    QString m_display;
};
