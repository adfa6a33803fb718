#pragma once

#include <cstdio>

// The console tools print UTF-8 (file and POS names in any script), on Windows too
// (console_win.cpp, console_posix.cpp).
void UseUtf8Console();

// The size of the terminal a stream shows on, when it is one that takes cursor moves (ANSI escape
// sequences; on Windows they are switched on here); zero columns when it is a file, a pipe or a
// console that cannot.
struct SConsoleSize {
    int nColumns = 0;
    int nRows = 0;
};
SConsoleSize LiveConsoleSize(FILE* stream);
