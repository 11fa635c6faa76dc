#pragma once

#include <windows.h>

#include <functional>
#include <string>

std::wstring ChooseOutputPath(const std::wstring& folder);

// The naming rule: "Screenshot_yyyyMMdd_HHmmss.png" from the given local time in the
// folder, or the first free "_2" to "_9999" variant; empty when every candidate exists.
std::wstring ChooseOutputPathAt(const std::wstring& folder, const SYSTEMTIME& localTime,
                                const std::function<bool(const std::wstring&)>& exists);
