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

// One file however spelled (a short name, a second drive letter, a junction): its volume's serial
// number and its file index, as the setup tells the installed copy.
bool SameFile(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  int known = 0;
  for (const std::wstring* path : {&a, &b}) {
    const HANDLE file = CreateFileW(path->c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    known += GetFileInformationByHandle(file, &info[known]) ? 1 : 0;
    CloseHandle(file);
  }
  return known == 2 && info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace

std::wstring ProgramOfRunCommand(const std::wstring& command) {
  if (!command.empty() && command[0] == L'"') {
    const size_t end = command.find(L'"', 1);
    return end == std::wstring::npos ? std::wstring() : command.substr(1, end - 1);
  }
  const size_t first = command.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return {};
  // Unquoted, the program is what comes before the first space, as Windows reads it first.
  return command.substr(first, command.find_first_of(L" \t", first) - first);
}

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
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  std::wstring command(reinterpret_cast<const wchar_t*>(buffer.data()),
                       wcsnlen(reinterpret_cast<const wchar_t*>(buffer.data()), size / 2));
  if (type == REG_EXPAND_SZ) {
    std::vector<wchar_t> expanded(32768, L'\0');
    if (!ExpandEnvironmentStringsW(command.c_str(), expanded.data(), DWORD(expanded.size()))) {
      return false;
    }
    command = expanded.data();
  }
  // Ticked only while Windows will start this very program: a value naming another copy or a
  // deleted file is someone else's (or no one's).
  return SameFile(ProgramOfRunCommand(command), GetModulePath()) && !IsStartupDisabledByUser();
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
