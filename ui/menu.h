// Menus: items with command ids, texts, separators and check marks; every top-level
// window with WS_SYSMENU has a system menu with the standard commands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/types.h"

namespace ui {

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT kMenuNotFound = 0xFFFFFFFF;

HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);
BOOL AppendMenu(HMENU menu, UINT flags, UINT id, std::string_view text = {});
BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT id, std::string_view text = {});
BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT id, std::string_view text = {});
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
// Returns the previous check state (MF_CHECKED or MF_UNCHECKED), or kMenuNotFound.
UINT CheckMenuItem(HMENU menu, UINT item, UINT flags);
UINT EnableMenuItem(HMENU menu, UINT item, UINT flags);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);
std::string GetMenuString(HMENU menu, UINT item, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
// The window's system menu; with revert TRUE it is put back to the standard items.
HMENU GetSystemMenu(HWND hwnd, BOOL revert);

struct MenuItem {
    UINT id = 0;
    UINT flags = 0;  // MF_SEPARATOR, MF_CHECKED, MF_GRAYED
    std::string text;
};
std::vector<MenuItem> MenuItems(HMENU menu);

// Destroys every menu (with ResetWindowLayer).
void ResetMenus();

}  // namespace ui
