// Placeholder entry until the start-up sequence lands.
#include "shell/startup.h"

int ZephraMain(int, char**) { return 0; }
