#include "messages/json_scan.h"

std::string FindJsonValue(const std::string&, const std::string&) { return {}; }
