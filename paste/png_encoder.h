#pragma once

#include <windows.h>

#include <string>

bool EncodePngFile(HBITMAP bitmap, const std::wstring& path);
