#include "app/settings.h"

#include <windows.h>

#include <vector>

#include "core/handles.h"

bool ReadPastingEnabled() {
  ScopedRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, key.Put()) !=
      ERROR_SUCCESS) {
    return true;
  }
  DWORD value = 1;
  DWORD type = 0;
  DWORD size = sizeof(value);
  LONG status = RegQueryValueExW(key.Get(), SETTINGS_ENABLED_VALUE, nullptr, &type,
                                 reinterpret_cast<BYTE*>(&value), &size);
  // Only a well-formed DWORD can turn pasting off; a short one would leave stray bytes of
  // the preset in the value, so it counts as malformed like any other type.
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return true;
  return value != 0;
}

void WritePastingEnabled(bool enabled) {
  ScopedRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  DWORD value = enabled ? 1 : 0;
  RegSetValueExW(key.Get(), SETTINGS_ENABLED_VALUE, 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

namespace {

// Windows starts a Run value unless its StartupApproved value says otherwise: an odd first
// byte (03) marks it disabled, an even one (02) or none at all enabled.
bool IsStartupDisabledByUser() {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, STARTUP_APPROVED_KEY, RUN_VALUE, RRF_RT_REG_BINARY, nullptr,
                   nullptr, &size) != ERROR_SUCCESS ||
      size == 0) {
    return false;
  }
  std::vector<BYTE> mark(size);
  return RegGetValueW(HKEY_CURRENT_USER, STARTUP_APPROVED_KEY, RUN_VALUE, RRF_RT_REG_BINARY,
                      nullptr, mark.data(), &size) == ERROR_SUCCESS &&
         size > 0 && (mark[0] & 1) != 0;
}

}  // namespace

bool IsRunAtSignIn() {
  ScopedRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) {
    return false;
  }
  constexpr DWORD kBufferBytes = 65536;
  std::vector<BYTE> buffer(kBufferBytes, 0);
  DWORD type = 0;
  DWORD size = kBufferBytes;
  LONG status = RegQueryValueExW(key.Get(), RUN_VALUE, nullptr, &type, buffer.data(), &size);
  return status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
         !IsStartupDisabledByUser();
}

std::wstring RunAtSignInCommand(const std::wstring& modulePath) {
  if (modulePath.empty()) return {};
  return L"\"" + modulePath + L"\"";
}

bool SetRunAtSignIn(bool on) {
  // Without the program's path there is nothing sound to register; report the failure
  // instead of storing an empty command.
  std::wstring command;
  if (on) {
    command = RunAtSignInCommand(GetModulePath());
    if (command.empty()) return false;
  }
  ScopedRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, RUN_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG status;
  if (on) {
    status = RegSetValueExW(key.Get(), RUN_VALUE, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  } else {
    status = RegDeleteValueW(key.Get(), RUN_VALUE);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;  // nothing to remove
  }
  // Task Manager's mark goes with every change: switched on, a Run value it switched off would
  // stay off until the mark goes (Windows treats a missing mark as enabled); switched off,
  // nothing of Dropleaf's is left under StartupApproved.
  if (status == ERROR_SUCCESS) {
    status = RegDeleteKeyValueW(HKEY_CURRENT_USER, STARTUP_APPROVED_KEY, RUN_VALUE);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) status = ERROR_SUCCESS;
  }
  return status == ERROR_SUCCESS;
}

std::wstring GetModulePath() {
  constexpr DWORD kBufferUnits = 32768;
  std::vector<wchar_t> buffer(kBufferUnits, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), kBufferUnits);
  if (length == 0 || length >= kBufferUnits) return {};
  return std::wstring(buffer.data(), length);
}
