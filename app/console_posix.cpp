#include "app/console.h"

// Terminals here take the bytes as they come: UTF-8 already.
void UseUtf8Console() {}
