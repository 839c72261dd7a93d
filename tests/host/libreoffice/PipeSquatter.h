#pragma once

#include <QString>

#include <sys/types.h>

// A socket that listens where an office's pipe would be, in a child process
// of its own (run as the user nobody when asked): it accepts every
// connection and counts the connections of this process and the bytes they
// send, but never answers.
class PipeSquatter
{
public:
    struct Report
    {
        int connections = 0;
        int bytes = 0;
    };

    ~PipeSquatter();

    // Whether this process may start the squatter as another user (root).
    static bool canActAsOtherUser();

    // Listens on path; false (and error()) when it cannot.
    bool start(const QString& path, bool asOtherUser);
    // Ends the squatter, removes its socket and tells what it received.
    Report stop();
    QString error() const { return m_error; }

private:
    pid_t m_pid = 0;
    int m_report = -1;
    QString m_path;
    QString m_error;
};
