#pragma once

#include <QString>

// The socket behind an office's named pipe (--accept=pipe,name=…): LibreOffice
// creates it as <folder>/OSL_PIPE_<uid>_<name>, where any local user could
// have put a socket of their own first. Only a socket that this user's office
// listens on is connected to.
class OfficePipe
{
public:
    // Where the office of this user creates the socket of pipeName.
    static QString socketPath(const QString& pipeName);

    // Connects to the socket of pipeName when the path is a socket owned by
    // this user, in a folder where nobody else can replace it (a sticky folder
    // of root's, or one only this user may change), and the process listening
    // on it (its credentials as the kernel reports them) is a soffice.bin of
    // this user. Nothing is written to the socket, and nothing waits for a
    // listener that does not accept. Returns the connected
    // socket (close-on-exec; the caller closes it), or -1 with *reason set.
    static int connect(const QString& pipeName, QString* reason);
};
