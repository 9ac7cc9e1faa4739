// Basic types of the window layer, with the Windows names and values the console's code
// is written against.
#pragma once

#include <cstdint>

namespace ui {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using BOOL = int;
using COLORREF = std::uint32_t;  // 0x00BBGGRR

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Handles are small numbers; 0 is no handle.
using HWND = std::uint32_t;
using HMENU = std::uint32_t;
using HDC = std::uint32_t;
using HGDIOBJ = std::uint32_t;
using HPEN = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HFONT = HGDIOBJ;
using HBITMAP = HGDIOBJ;
using HICON = HGDIOBJ;

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xff) | ((g & 0xff) << 8) | ((b & 0xff) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return static_cast<int>(c & 0xff);
}
constexpr int GetGValue(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xff);
}
constexpr int GetBValue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xff);
}

struct POINT {
    int x = 0;
    int y = 0;
    bool operator==(const POINT&) const = default;
};

// Right and bottom are exclusive, as on Windows.
struct RECT {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const RECT&) const = default;
};

struct SIZE {
    int cx = 0;
    int cy = 0;
    bool operator==(const SIZE&) const = default;
};

}  // namespace ui
