#pragma once

#include <windows.h>

#include <string>

// Tells an Open dialog of the saved file: the path as its File name box's whole text, selected,
// the focus left there; Open is the user's to press. False when the dialog closed or the box
// would not take it (it then holds something else, or did not answer in time).
bool PutPathIntoFileNameBox(HWND box, const std::wstring& path);
