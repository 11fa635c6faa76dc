#pragma once

#include <string>

bool ReadPastingEnabled();
void WritePastingEnabled(bool enabled);
bool IsRunAtSignIn();
bool SetRunAtSignIn(bool on);
std::wstring GetModulePath();
