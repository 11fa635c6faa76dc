#include "app/startup.h"

// Placeholder until start-up lands.
int RunDropleaf(HINSTANCE) { return 0; }
