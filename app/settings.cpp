#include "app/settings.h"

bool ReadPastingEnabled() { return true; }
void WritePastingEnabled(bool) {}
bool IsRunAtSignIn() { return false; }
bool SetRunAtSignIn(bool) { return false; }
std::wstring GetModulePath() { return {}; }
