#include "ui/menu.h"

#include <map>

#include "ui/internal.h"

namespace ui {
namespace {

struct Menu {
    std::vector<MenuItem> items;
    HWND window = 0;  // the window whose system menu this is
};

struct MenuState {
    std::map<HMENU, Menu> menus;
    HMENU next = 0x5000;
};
MenuState g_menus;

Menu* FindMenu(HMENU h) {
    auto it = g_menus.menus.find(h);
    return it == g_menus.menus.end() ? nullptr : &it->second;
}

// The index of an item given by command id or position; -1 when there is none.
int Locate(const Menu& m, UINT item, UINT flags) {
    if (flags & MF_BYPOSITION) return item < m.items.size() ? static_cast<int>(item) : -1;
    for (std::size_t i = 0; i < m.items.size(); ++i)
        if (!(m.items[i].flags & MF_SEPARATOR) && m.items[i].id == item) return static_cast<int>(i);
    return -1;
}

void Changed(const Menu& m) {
    if (m.window) detail::NotifyChanged(m.window);
}

MenuItem MakeItem(UINT flags, UINT id, std::string_view text) {
    MenuItem it;
    it.flags = flags & (MF_SEPARATOR | MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_POPUP);
    it.id = (flags & MF_SEPARATOR) ? 0 : id;
    if (!(flags & MF_SEPARATOR)) it.text = std::string(text);
    return it;
}

void FillSystemMenu(Menu& m) {
    m.items.clear();
    m.items.push_back(MakeItem(MF_STRING, SC_RESTORE, "&Restore"));
    m.items.push_back(MakeItem(MF_STRING, SC_MOVE, "&Move"));
    m.items.push_back(MakeItem(MF_STRING, SC_SIZE, "&Size"));
    m.items.push_back(MakeItem(MF_STRING, SC_MINIMIZE, "Mi&nimize"));
    m.items.push_back(MakeItem(MF_STRING, SC_MAXIMIZE, "Ma&ximize"));
    m.items.push_back(MakeItem(MF_SEPARATOR, 0, ""));
    m.items.push_back(MakeItem(MF_STRING, SC_CLOSE, "&Close\tAlt+F4"));
}

}  // namespace

HMENU CreateMenu() {
    HMENU h = g_menus.next++;
    g_menus.menus.emplace(h, Menu{});
    return h;
}

HMENU CreatePopupMenu() { return CreateMenu(); }

BOOL DestroyMenu(HMENU menu) { return g_menus.menus.erase(menu) ? TRUE : FALSE; }

BOOL AppendMenu(HMENU menu, UINT flags, UINT id, std::string_view text) {
    Menu* m = FindMenu(menu);
    if (!m) return FALSE;
    m->items.push_back(MakeItem(flags, id, text));
    Changed(*m);
    return TRUE;
}

BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT id, std::string_view text) {
    Menu* m = FindMenu(menu);
    if (!m) return FALSE;
    int at = Locate(*m, position, flags);
    if (at < 0) at = static_cast<int>(m->items.size());
    m->items.insert(m->items.begin() + at, MakeItem(flags, id, text));
    Changed(*m);
    return TRUE;
}

BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT id, std::string_view text) {
    Menu* m = FindMenu(menu);
    if (!m) return FALSE;
    int at = Locate(*m, position, flags);
    if (at < 0) return FALSE;
    m->items[static_cast<std::size_t>(at)] = MakeItem(flags, id, text);
    Changed(*m);
    return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
    Menu* m = FindMenu(menu);
    if (!m) return FALSE;
    int at = Locate(*m, position, flags);
    if (at < 0) return FALSE;
    m->items.erase(m->items.begin() + at);
    Changed(*m);
    return TRUE;
}

UINT CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    Menu* m = FindMenu(menu);
    if (!m) return kMenuNotFound;
    int at = Locate(*m, item, flags);
    if (at < 0) return kMenuNotFound;
    MenuItem& it = m->items[static_cast<std::size_t>(at)];
    UINT old = it.flags & MF_CHECKED;
    it.flags = (it.flags & ~MF_CHECKED) | (flags & MF_CHECKED);
    Changed(*m);
    return old;
}

UINT EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    Menu* m = FindMenu(menu);
    if (!m) return kMenuNotFound;
    int at = Locate(*m, item, flags);
    if (at < 0) return kMenuNotFound;
    MenuItem& it = m->items[static_cast<std::size_t>(at)];
    UINT old = it.flags & (MF_GRAYED | MF_DISABLED);
    it.flags = (it.flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
    Changed(*m);
    return old;
}

int GetMenuItemCount(HMENU menu) {
    Menu* m = FindMenu(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    Menu* m = FindMenu(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return kMenuNotFound;
    return m->items[static_cast<std::size_t>(position)].id;
}

std::string GetMenuString(HMENU menu, UINT item, UINT flags) {
    Menu* m = FindMenu(menu);
    if (!m) return {};
    int at = Locate(*m, item, flags);
    return at < 0 ? std::string() : m->items[static_cast<std::size_t>(at)].text;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    Menu* m = FindMenu(menu);
    if (!m) return kMenuNotFound;
    int at = Locate(*m, item, flags);
    return at < 0 ? kMenuNotFound : m->items[static_cast<std::size_t>(at)].flags;
}

HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
    detail::Window* w = detail::Find(hwnd);
    if (!w || !(w->style & WS_SYSMENU)) return 0;
    if (!w->systemMenu) {
        w->systemMenu = CreateMenu();
        Menu* m = FindMenu(w->systemMenu);
        m->window = hwnd;
        FillSystemMenu(*m);
    } else if (revert) {
        FillSystemMenu(*FindMenu(w->systemMenu));
    }
    Changed(*FindMenu(w->systemMenu));
    return w->systemMenu;
}

std::vector<MenuItem> MenuItems(HMENU menu) {
    Menu* m = FindMenu(menu);
    return m ? m->items : std::vector<MenuItem>{};
}

void ResetMenus() { g_menus = MenuState{}; }

}  // namespace ui
