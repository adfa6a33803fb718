#pragma once

// Has the program's messages shown as message boxes and its waits as the wait cursor; the window
// calls it once its application object exists.
void InstallWindowFeedback();
