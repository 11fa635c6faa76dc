#pragma once

#include <windows.h>

#include <string>

// The web page of a message: the maker's site, "/messages/", the tool and the id.
std::wstring MessagePageAddress(const std::string& id);

// Opens a web page on behalf of a window. The message window goes through
// messagePageOpener, which hands the page to the shell unless replaced (tests do).
using PageOpener = void (*)(HWND owner, const std::wstring& address);
void OpenPageInBrowser(HWND owner, const std::wstring& address);
extern PageOpener messagePageOpener;
