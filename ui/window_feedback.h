#pragma once

// Has the program's messages shown as message boxes; the window calls it once its application object
// exists.
void InstallWindowFeedback();
