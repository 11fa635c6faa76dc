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
// Where Task Manager's Startup tab and Settings > Apps > Startup switch a Run value off
// without removing it: a REG_BINARY value of the same name.
inline constexpr wchar_t STARTUP_APPROVED_KEY[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

// The Run value's command for a program path: the path in double quotes, nothing else, so
// a path with spaces still names one file. Empty for an empty path.
std::wstring RunAtSignInCommand(const std::wstring& modulePath);
// The program a Run value's command starts: the quoted path, or the text before the first space.
std::wstring ProgramOfRunCommand(const std::wstring& command);
