#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/app/test_windows.h"

namespace {

// The test prefix is private, so the real HKCU keys are used; each test puts them back.
class SettingsTest : public testing::Test {
 protected:
  SavedRegistryValue savedEnabled{SETTINGS_KEY, SETTINGS_ENABLED_VALUE};
  SavedRegistryValue savedRun{RUN_KEY, RUN_VALUE};

  static void StoreEnabled(DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, type, data, size),
        ERROR_SUCCESS);
  }

  static bool ReadEnabledDword(DWORD* value) {
    DWORD size = sizeof(*value);
    return RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, RRF_RT_REG_DWORD,
                        nullptr, value, &size) == ERROR_SUCCESS;
  }

  static std::wstring ReadRunValue(DWORD* type) {
    std::vector<wchar_t> buffer(4096, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, RRF_RT_ANY | RRF_NOEXPAND, type,
                     buffer.data(), &size) != ERROR_SUCCESS) {
      return L"<absent>";
    }
    return buffer.data();
  }
};

TEST_F(SettingsTest, PastingIsOnWhenNothingIsStored) {
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
  EXPECT_TRUE(ReadPastingEnabled()) << "no key at all";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, SETTINGS_KEY, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(ReadPastingEnabled()) << "key without the value";
}

TEST_F(SettingsTest, OnlyAWellFormedDwordZeroTurnsPastingOff) {
  DWORD zero = 0;
  StoreEnabled(REG_DWORD, &zero, sizeof(zero));
  EXPECT_FALSE(ReadPastingEnabled());

  DWORD two = 2;
  StoreEnabled(REG_DWORD, &two, sizeof(two));
  EXPECT_TRUE(ReadPastingEnabled());

  const wchar_t text[] = L"0";
  StoreEnabled(REG_SZ, text, sizeof(text));
  EXPECT_TRUE(ReadPastingEnabled()) << "REG_SZ \"0\"";

  ULONGLONG wide = 0;
  StoreEnabled(REG_QWORD, &wide, sizeof(wide));
  EXPECT_TRUE(ReadPastingEnabled()) << "REG_QWORD 0";

  BYTE eight[8] = {};
  StoreEnabled(REG_BINARY, eight, sizeof(eight));
  EXPECT_TRUE(ReadPastingEnabled()) << "REG_BINARY of 8 zero bytes";

  BYTE four[4] = {};
  StoreEnabled(REG_BINARY, four, sizeof(four));
  EXPECT_TRUE(ReadPastingEnabled()) << "REG_BINARY of 4 zero bytes";

  BYTE one[1] = {0};
  StoreEnabled(REG_DWORD, one, sizeof(one));
  EXPECT_TRUE(ReadPastingEnabled()) << "a REG_DWORD cut to one byte is malformed";

  StoreEnabled(REG_DWORD, nullptr, 0);
  EXPECT_TRUE(ReadPastingEnabled()) << "an empty REG_DWORD";
}

TEST_F(SettingsTest, WritePastingEnabledCreatesTheKeyAndRoundTrips) {
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
  WritePastingEnabled(false);
  DWORD value = 7;
  ASSERT_TRUE(ReadEnabledDword(&value));
  EXPECT_EQ(value, 0u);
  EXPECT_FALSE(ReadPastingEnabled());
  WritePastingEnabled(true);
  ASSERT_TRUE(ReadEnabledDword(&value));
  EXPECT_EQ(value, 1u);
  EXPECT_TRUE(ReadPastingEnabled());
}

TEST_F(SettingsTest, RunCommandQuotesThePath) {
  EXPECT_EQ(RunAtSignInCommand(L"C:\\Program Files\\Dropleaf Tools\\Dropleaf.exe"),
            L"\"C:\\Program Files\\Dropleaf Tools\\Dropleaf.exe\"");
  EXPECT_EQ(RunAtSignInCommand(L"C:\\Dropleaf.exe"), L"\"C:\\Dropleaf.exe\"");
  EXPECT_EQ(RunAtSignInCommand(L""), L"");
}

TEST_F(SettingsTest, ModulePathIsThisProgram) {
  std::wstring path = GetModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.find(L'\0'), std::wstring::npos);
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(path.substr(path.size() - 13), L"app_tests.exe");
}

TEST_F(SettingsTest, RunAtSignInRoundTrip) {
  ASSERT_TRUE(SetRunAtSignIn(false));
  EXPECT_FALSE(IsRunAtSignIn());
  EXPECT_TRUE(SetRunAtSignIn(false)) << "removing an absent value succeeds";

  ASSERT_TRUE(SetRunAtSignIn(true));
  EXPECT_TRUE(IsRunAtSignIn());
  DWORD type = 0;
  EXPECT_EQ(ReadRunValue(&type), L"\"" + GetModulePath() + L"\"");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  ASSERT_TRUE(SetRunAtSignIn(false));
  EXPECT_FALSE(IsRunAtSignIn());
  EXPECT_EQ(ReadRunValue(&type), L"<absent>");
}

TEST_F(SettingsTest, AnyStringRunValueCountsOtherTypesDoNot) {
  const wchar_t other[] = L"\"C:\\Elsewhere\\other.exe\"";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, REG_SZ, other, sizeof(other)),
            ERROR_SUCCESS);
  EXPECT_TRUE(IsRunAtSignIn());

  const wchar_t expandable[] = L"%ProgramFiles%\\Dropleaf.exe";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, REG_EXPAND_SZ, expandable,
                            sizeof(expandable)),
            ERROR_SUCCESS);
  EXPECT_TRUE(IsRunAtSignIn());

  DWORD number = 1;
  ASSERT_EQ(
      RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, REG_DWORD, &number, sizeof(number)),
      ERROR_SUCCESS);
  EXPECT_FALSE(IsRunAtSignIn()) << "a DWORD is no command";

  std::vector<wchar_t> huge(40000, L'a');  // 80,000 bytes: more than the query takes
  huge.back() = L'\0';
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, REG_SZ, huge.data(),
                            static_cast<DWORD>(huge.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
  EXPECT_FALSE(IsRunAtSignIn());

  EXPECT_TRUE(SetRunAtSignIn(false)) << "turning off removes a foreign value";
  DWORD type = 0;
  EXPECT_EQ(ReadRunValue(&type), L"<absent>");
}

}  // namespace
