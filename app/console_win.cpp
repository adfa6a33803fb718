#include "app/console.h"

#include <windows.h>

// The console shows the bytes in its code page, the ANSI one unless told otherwise.
void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}
