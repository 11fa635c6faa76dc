#include "paste/open_dialog.h"

#include <dlgs.h>

#include "paste/window_classes.h"

namespace {

// The hook holds every key of the desktop while it asks: a dialog that does not answer this
// soon passes the key on.
constexpr UINT kHookAskMs = 40;
constexpr int kLongestButtonText = 64;
constexpr size_t kMaxDepth = 32;  // a parent chain deeper than any real dialog's
// The "Save" label comdlg32 gives a Save dialog's OK button (IDS_SAVE_BUTTON in its string table).
constexpr UINT kComdlgSaveLabel = 1201;

// The system's own label in the user's language, from comdlg32's resources, loaded as data.
const std::wstring& SystemSaveLabel() {
  static const std::wstring label = [] {
    std::wstring text;
    const HMODULE comdlg = LoadLibraryExW(
        L"comdlg32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const wchar_t* found = nullptr;
    const int length = comdlg ? LoadStringW(comdlg, kComdlgSaveLabel, (LPWSTR)&found, 0) : 0;
    if (length > 0 && found) text.assign(found, size_t(length));
    if (comdlg) FreeLibrary(comdlg);
    return text;
  }();
  return label;
}

DWORD IntegrityOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return MAXDWORD;
  BYTE buffer[64] = {};
  DWORD size = 0;
  DWORD level = MAXDWORD;
  if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
    const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
  }
  CloseHandle(token);
  return level;
}

// Windows gives the keys to an elevated program's window itself, and UIPI keeps its controls
// from being written from here: such a dialog, or one whose level cannot be read, is left alone.
bool RunsAboveUs(HWND window) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!process) return true;
  const DWORD theirs = IntegrityOf(process);
  CloseHandle(process);
  static const DWORD ours = IntegrityOf(GetCurrentProcess());
  return theirs == MAXDWORD || theirs > ours;
}

// The edit of the File name box when the focus is in it: edt1 itself, or an edit inside cmb13
// (a ComboBoxEx32 or ComboBox, nested deep in the common item dialog). No message is sent.
HWND FileNameBoxWithFocus(HWND dialog, HWND focus) {
  if (!focus || !IsChild(dialog, focus) || GetWindowClassName(focus) != L"Edit") return nullptr;
  if (GetDlgCtrlID(focus) == edt1) return focus;
  size_t depth = 0;
  for (HWND w = focus; w && w != dialog && depth < kMaxDepth; w = GetAncestor(w, GA_PARENT)) {
    if (GetDlgCtrlID(w) == cmb13) return focus;
    ++depth;
  }
  return nullptr;
}

// A button's label without its access key: "保存(&S)" and "保存", "&Save" and "Save" are one.
std::wstring WithoutAccessKey(const std::wstring& label) {
  std::wstring plain;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == L'(' && i + 3 < label.size() && label[i + 1] == L'&' && label[i + 3] == L')') {
      i += 3;  // "(&S)", as Chinese, Japanese and Korean labels carry it
    } else if (label[i] != L'&') {
      plain += label[i];
    }
  }
  return plain;
}

}  // namespace

bool IsEmptyOpenDialogBox(const OpenDialogFacts& facts) {
  return facts.className == L"#32770" && facts.hasOkButton && facts.focusInFileNameBox &&
         !facts.elevated && facts.boxAnswered && facts.boxLength == 0 &&
         (facts.saveText.empty() ||
          WithoutAccessKey(facts.okText) != WithoutAccessKey(facts.saveText));
}

HWND FindEmptyOpenDialogBox(HWND foreground) {
  OpenDialogFacts facts;
  facts.className = GetWindowClassName(foreground);
  if (facts.className != L"#32770") return nullptr;
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  const HWND ok = GetDlgItem(foreground, IDOK);
  facts.hasOkButton = ok != nullptr;
  HWND box = nullptr;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &info)) {
    box = FileNameBoxWithFocus(foreground, info.hwndFocus);
  }
  facts.focusInFileNameBox = box != nullptr;
  if (!box || !ok) return nullptr;
  facts.elevated = RunsAboveUs(foreground);
  if (facts.elevated) return nullptr;
  // While the hook thread waits here, a key typed meanwhile re-enters the hook; every key but a
  // fresh V leaves it at once, and a second V counts as auto-repeat.
  DWORD_PTR length = 0;
  facts.boxAnswered =
      SendMessageTimeoutW(box, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kHookAskMs, &length) != 0;
  facts.boxLength = LRESULT(length);
  if (!facts.boxAnswered || facts.boxLength != 0) return nullptr;
  wchar_t text[kLongestButtonText] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(ok, WM_GETTEXT, kLongestButtonText, LPARAM(text), SMTO_ABORTIFHUNG,
                           kHookAskMs, &copied)) {
    return nullptr;
  }
  facts.okText.assign(text, wcsnlen(text, kLongestButtonText));
  facts.saveText = SystemSaveLabel();
  return IsEmptyOpenDialogBox(facts) ? box : nullptr;
}
