// Helper of the focus-watcher test: opens one top-level window per WM_CLASS
// given on the command line, prints their ids (one hexadecimal id a line) and
// keeps them open until its standard input closes.
#include "X11TestUtil.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "x11_test_windows: cannot open the display\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        const xcb_window_t window =
            x11test::createWindow(c, argv[i], std::string(argv[i]) + " window", uint32_t(getpid()), 20 + 260 * (i - 1));
        std::printf("0x%x\n", window);
    }
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof(buffer)) > 0) {
    }
    xcb_disconnect(c);
    return 0;
}
