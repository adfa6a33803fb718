#pragma once

// The console tools print UTF-8 (file and POS names in any script), on Windows too
// (console_win.cpp, console_posix.cpp).
void UseUtf8Console();
