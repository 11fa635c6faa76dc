#pragma once

#include <string>

bool ReadPastingEnabled();
void WritePastingEnabled(bool enabled);
bool IsRunAtSignIn();
bool SetRunAtSignIn(bool on);
std::wstring GetModulePath();

inline constexpr wchar_t SETTINGS_KEY[] = L"Software\\Dropleaf";
inline constexpr wchar_t SETTINGS_ENABLED_VALUE[] = L"Enabled";
inline constexpr wchar_t RUN_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t RUN_VALUE[] = L"Dropleaf";

// The Run value's command for a program path: the path in double quotes, nothing else, so
// a path with spaces still names one file. Empty for an empty path.
std::wstring RunAtSignInCommand(const std::wstring& modulePath);
