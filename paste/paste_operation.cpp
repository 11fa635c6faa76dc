#include "paste/paste_operation.h"

bool PasteIntoFolder(HWND) { return false; }
