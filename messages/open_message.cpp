#include "messages/open_message.h"

void OpenSelectedMessage() {}
