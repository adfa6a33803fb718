#include "app/console.h"

#include <io.h>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// The console shows the bytes in its code page, the ANSI one unless told otherwise.
void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

SConsoleSize LiveConsoleSize(FILE* stream) {
    SConsoleSize size;
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &mode) ||
        !::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
        !::GetConsoleScreenBufferInfo(console, &info))
        return size;
    size.nColumns = info.srWindow.Right - info.srWindow.Left + 1;
    size.nRows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return size;
}
