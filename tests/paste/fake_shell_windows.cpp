// The fake's objects are built from the C form of the interfaces: a table of function
// pointers per interface, every slot answering E_NOTIMPL but the few the program calls.
#define CINTERFACE
#include "tests/paste/fake_shell_windows.h"

#include <exdisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

namespace {

struct Entry;

// One object: its table, and where a query for one further interface leads; every other
// query gets the object itself. Lifetimes are the test's, so references are not counted.
struct Fake {
  const void* table;
  const IID* otherIid;
  Fake* other;
  Entry* entry;
};

struct Entry {
  FakeShellEntry* data;
  Fake browser, services, shellBrowser, view, folderView, persist;
};

std::vector<std::unique_ptr<Entry>> entries;
Fake collection, factory;

HRESULT STDMETHODCALLTYPE NotImplemented() { return E_NOTIMPL; }  // x64: the caller cleans up
ULONG STDMETHODCALLTYPE KeepAlive(void*) { return 1; }
HRESULT STDMETHODCALLTYPE Query(void* self, REFIID iid, void** out) {
  Fake* fake = static_cast<Fake*>(self);
  *out = fake->otherIid && IsEqualIID(iid, *fake->otherIid) ? fake->other : fake;
  return S_OK;
}

template <typename T>
T* Table() {
  static T table = [] {
    T made;
    void** slots = reinterpret_cast<void**>(&made);
    for (size_t i = 3; i < sizeof(T) / sizeof(void*); ++i)
      slots[i] = reinterpret_cast<void*>(&NotImplemented);
    slots[0] = reinterpret_cast<void*>(&Query);
    slots[1] = slots[2] = reinterpret_cast<void*>(&KeepAlive);
    return made;
  }();
  return &table;
}

Entry& Of(void* self) { return *static_cast<Fake*>(self)->entry; }

PIDLIST_ABSOLUTE Shown(const FakeShellEntry& data) {  // the view's folder
  PIDLIST_ABSOLUTE list = nullptr;
  if (data.rootView) SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &list);
  if (!data.rootView) SHParseDisplayName(data.folder.c_str(), nullptr, &list, 0, nullptr);
  return list;
}

void MakeTables() {
  auto* browser = Table<IWebBrowser2Vtbl>();
  browser->get_HWND = [](IWebBrowser2* self, SHANDLE_PTR* frame) {
    *frame = reinterpret_cast<SHANDLE_PTR>(Of(self).data->frame);
    ++Of(self).data->frameReads;
    return S_OK;
  };
  browser->get_LocationURL = [](IWebBrowser2* self, BSTR* url) {
    FakeShellEntry& data = *Of(self).data;
    wchar_t location[2048] = {};
    DWORD length = 2048;
    UrlCreateFromPathW(data.folder.c_str(), location, &length, 0);
    ++data.urlReads;
    if (data.onLocationRead) data.onLocationRead();
    *url = SysAllocString(data.url.empty() ? location : data.url.c_str());
    return S_OK;
  };
  auto* services = Table<IServiceProviderVtbl>();
  services->QueryService = [](IServiceProvider* self, REFGUID service, REFIID, void** out) {
    *out = IsEqualGUID(service, SID_STopLevelBrowser) ? &Of(self).shellBrowser : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  };
  auto* shellBrowser = Table<IShellBrowserVtbl>();
  shellBrowser->GetWindow = [](IShellBrowser* self, HWND* tab) {
    *tab = Of(self).data->tab;
    return S_OK;
  };
  shellBrowser->QueryActiveShellView = [](IShellBrowser* self, IShellView** view) {
    *view = reinterpret_cast<IShellView*>(&Of(self).view);
    return S_OK;
  };
  Table<IShellViewVtbl>()->SelectItem = [](IShellView* self, PCUITEMID_CHILD item, SVSIF flags) {
    FakeShellEntry& data = *Of(self).data;
    if (data.onSelect) data.onSelect();
    if (data.refusedSelects > 0) {
      --data.refusedSelects;
      return E_FAIL;
    }
    PIDLIST_ABSOLUTE folder = Shown(data), file = ILCombine(folder, item);
    wchar_t path[MAX_PATH] = {}, hex[16];
    SHGetPathFromIDListW(file, path);
    wsprintfW(hex, L" 0x%X", flags);
    data.selected.push_back(std::wstring(path) + hex);
    ILFree(file);
    ILFree(folder);
    return S_OK;
  };
  Table<IFolderViewVtbl>()->GetFolder = [](IFolderView* self, REFIID, void** out) {
    *out = &Of(self).persist;
    return S_OK;
  };
  Table<IPersistFolder2Vtbl>()->GetCurFolder = [](IPersistFolder2* self, PIDLIST_ABSOLUTE* folder) {
    return (*folder = Shown(*Of(self).data)) ? S_OK : E_FAIL;
  };
  auto* windows = Table<IShellWindowsVtbl>();
  windows->get_Count = [](IShellWindows*, LONG* count) {
    *count = LONG(entries.size());
    return S_OK;
  };
  windows->Item = [](IShellWindows*, VARIANT index, IDispatch** item) {
    Entry& entry = *entries.at(index.lVal);
    *item = entry.data->closed ? nullptr : reinterpret_cast<IDispatch*>(&entry.browser);
    return *item ? S_OK : S_FALSE;
  };
  Table<IClassFactoryVtbl>()->CreateInstance = [](IClassFactory*, IUnknown*, REFIID, void** out) {
    *out = &collection;
    return S_OK;
  };
}

}  // namespace

FakeShellWindows::FakeShellWindows(std::vector<FakeShellEntry>& list) {
  static const bool made = (MakeTables(), true);
  (void)made;
  entries.clear();
  for (FakeShellEntry& data : list) {
    Entry* e = entries.emplace_back(std::make_unique<Entry>()).get();
    *e = {&data,
          {Table<IWebBrowser2Vtbl>(), &IID_IServiceProvider, &e->services, e},
          {Table<IServiceProviderVtbl>(), nullptr, nullptr, e},
          {Table<IShellBrowserVtbl>(), nullptr, nullptr, e},
          {Table<IShellViewVtbl>(), &IID_IFolderView, &e->folderView, e},
          {Table<IFolderViewVtbl>(), nullptr, nullptr, e},
          {Table<IPersistFolder2Vtbl>(), nullptr, nullptr, e}};
  }
  collection = {Table<IShellWindowsVtbl>(), nullptr, nullptr, nullptr};
  factory = {Table<IClassFactoryVtbl>(), nullptr, nullptr, nullptr};
  CoRegisterClassObject(CLSID_ShellWindows, reinterpret_cast<IUnknown*>(&factory),
                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

FakeShellWindows::~FakeShellWindows() {
  CoRevokeClassObject(cookie_);
  entries.clear();
}
