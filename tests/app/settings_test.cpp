#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/app/test_windows.h"

namespace {

// A value as stored, and what the reader should make of it.
struct StoredValue {
  const char* what;
  DWORD type;
  const void* data;
  DWORD size;
  bool expected;
};

// The test prefix is private, so the real HKCU keys are used; each test puts them back.
class SettingsTest : public testing::Test {
 protected:
  SavedRegistryValue savedEnabled{SETTINGS_KEY, SETTINGS_ENABLED_VALUE};
  SavedRegistryValue savedRun{RUN_KEY, RUN_VALUE};
};

TEST_F(SettingsTest, PastingIsOnUnlessAWellFormedDwordZeroIsStored) {
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
  EXPECT_TRUE(ReadPastingEnabled()) << "no key at all";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, SETTINGS_KEY, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(ReadPastingEnabled()) << "key without the value";

  const DWORD zero = 0, two = 2;
  const ULONGLONG wideZero = 0;
  const BYTE zeroBytes[4] = {};
  const wchar_t text[] = L"0";
  const StoredValue cases[] = {
      {"REG_DWORD 0", REG_DWORD, &zero, sizeof(zero), false},
      {"REG_DWORD 2", REG_DWORD, &two, sizeof(two), true},
      {"REG_SZ \"0\"", REG_SZ, text, sizeof(text), true},
      {"REG_QWORD 0", REG_QWORD, &wideZero, sizeof(wideZero), true},
      {"REG_BINARY of 4 zero bytes", REG_BINARY, zeroBytes, sizeof(zeroBytes), true},
      {"a REG_DWORD cut to one byte is malformed", REG_DWORD, zeroBytes, 1, true},
      {"an empty REG_DWORD", REG_DWORD, nullptr, 0, true},
  };
  for (const StoredValue& stored : cases) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, stored.type,
                              stored.data, stored.size),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadPastingEnabled(), stored.expected) << stored.what;
  }
}

TEST_F(SettingsTest, RunAtSignInStoresThisProgramQuoted) {
  EXPECT_EQ(RunAtSignInCommand(L"C:\\Program Files\\Dropleaf Tools\\Dropleaf.exe"),
            L"\"C:\\Program Files\\Dropleaf Tools\\Dropleaf.exe\"");
  EXPECT_EQ(RunAtSignInCommand(L""), L"");
  std::wstring path = GetModulePath();
  ASSERT_GE(path.size(), 13u);
  EXPECT_EQ(path.substr(path.size() - 13), L"app_tests.exe");

  ASSERT_TRUE(SetRunAtSignIn(false));
  EXPECT_FALSE(IsRunAtSignIn());
  EXPECT_TRUE(SetRunAtSignIn(false)) << "removing an absent value succeeds";
  ASSERT_TRUE(SetRunAtSignIn(true));
  EXPECT_TRUE(IsRunAtSignIn());
  EXPECT_EQ(ReadRunValue(), L"\"" + path + L"\"") << "a REG_SZ";
  ASSERT_TRUE(SetRunAtSignIn(false));
  EXPECT_FALSE(IsRunAtSignIn());
  EXPECT_EQ(ReadRunValue(), L"<absent>");
}

TEST_F(SettingsTest, AnyStringRunValueCountsOtherTypesDoNot) {
  const wchar_t other[] = L"\"C:\\Elsewhere\\other.exe\"";
  const wchar_t expandable[] = L"%ProgramFiles%\\Dropleaf.exe";
  const DWORD number = 1;
  std::vector<wchar_t> huge(40000, L'a');  // 80,000 bytes: more than the query takes
  huge.back() = L'\0';
  const StoredValue cases[] = {
      {"REG_SZ", REG_SZ, other, sizeof(other), true},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, expandable, sizeof(expandable), true},
      {"a DWORD is no command", REG_DWORD, &number, sizeof(number), false},
      {"huge REG_SZ", REG_SZ, huge.data(), static_cast<DWORD>(huge.size() * sizeof(wchar_t)),
       false},
  };
  for (const StoredValue& stored : cases) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, stored.type, stored.data,
                              stored.size),
              ERROR_SUCCESS);
    EXPECT_EQ(IsRunAtSignIn(), stored.expected) << stored.what;
  }
  EXPECT_TRUE(SetRunAtSignIn(false)) << "turning off removes a foreign value";
  EXPECT_EQ(ReadRunValue(), L"<absent>");
}

}  // namespace
