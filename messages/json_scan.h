#pragma once

#include <string>

std::string FindJsonValue(const std::string& text, const std::string& key);
