#include "app/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

// Terminals here take the bytes as they come: UTF-8 already.
void UseUtf8Console() {}

SConsoleSize LiveConsoleSize(FILE* stream) {
    SConsoleSize size;
    winsize window{};
    const int fd = ::fileno(stream);
    if (!::isatty(fd) || ::ioctl(fd, TIOCGWINSZ, &window) != 0 || window.ws_col == 0)
        return size;
    size.nColumns = window.ws_col;
    size.nRows = window.ws_row;
    return size;
}
