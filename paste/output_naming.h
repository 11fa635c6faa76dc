#pragma once

#include <string>

std::wstring ChooseOutputPath(const std::wstring& folder);
