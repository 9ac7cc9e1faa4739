// The built-in control classes: BUTTON (push, default, owner-drawn, check box, radio
// button, group box), STATIC (text, frames, rectangles, icon, bitmap), EDIT (one line,
// with a text limit) and COMBOBOX (drop-down list, or simple: an edit field over a list;
// sorted on request, with item data). They notify their parent with WM_COMMAND.
#pragma once

#include <string>
#include <string_view>

#include "ui/types.h"
#include "ui/window.h"

namespace ui {

// Button styles.
constexpr std::uint32_t BS_PUSHBUTTON = 0x0;
constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr std::uint32_t BS_CHECKBOX = 0x2;
constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3;
constexpr std::uint32_t BS_RADIOBUTTON = 0x4;
constexpr std::uint32_t BS_3STATE = 0x5;
constexpr std::uint32_t BS_AUTO3STATE = 0x6;
constexpr std::uint32_t BS_GROUPBOX = 0x7;
constexpr std::uint32_t BS_AUTORADIOBUTTON = 0x9;
constexpr std::uint32_t BS_OWNERDRAW = 0xB;
constexpr std::uint32_t BS_TYPEMASK = 0xF;

// Static styles.
constexpr std::uint32_t SS_LEFT = 0x0;
constexpr std::uint32_t SS_CENTER = 0x1;
constexpr std::uint32_t SS_RIGHT = 0x2;
constexpr std::uint32_t SS_ICON = 0x3;
constexpr std::uint32_t SS_BLACKRECT = 0x4;
constexpr std::uint32_t SS_GRAYRECT = 0x5;
constexpr std::uint32_t SS_WHITERECT = 0x6;
constexpr std::uint32_t SS_BLACKFRAME = 0x7;
constexpr std::uint32_t SS_GRAYFRAME = 0x8;
constexpr std::uint32_t SS_WHITEFRAME = 0x9;
constexpr std::uint32_t SS_SIMPLE = 0xB;
constexpr std::uint32_t SS_LEFTNOWORDWRAP = 0xC;
constexpr std::uint32_t SS_BITMAP = 0xE;
constexpr std::uint32_t SS_TYPEMASK = 0x1F;
constexpr std::uint32_t SS_NOPREFIX = 0x80;
constexpr std::uint32_t SS_SUNKEN = 0x1000;

// Edit styles.
constexpr std::uint32_t ES_LEFT = 0x0;
constexpr std::uint32_t ES_CENTER = 0x1;
constexpr std::uint32_t ES_AUTOHSCROLL = 0x80;
constexpr std::uint32_t ES_READONLY = 0x800;

// Combo box styles.
constexpr std::uint32_t CBS_SIMPLE = 0x1;
constexpr std::uint32_t CBS_DROPDOWN = 0x2;
constexpr std::uint32_t CBS_DROPDOWNLIST = 0x3;
constexpr std::uint32_t CBS_SORT = 0x100;
constexpr std::uint32_t CBS_AUTOHSCROLL = 0x40;

// Control messages.
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_GETLIMITTEXT = 0x00D5;
constexpr UINT STM_SETICON = 0x0170;
constexpr UINT STM_SETIMAGE = 0x0172;
constexpr UINT CB_LIMITTEXT = 0x0141;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr LRESULT CB_ERR = -1;

// Notification codes (high word of WM_COMMAND's wParam).
constexpr int BN_CLICKED = 0;
constexpr int EN_CHANGE = 0x0300;
constexpr int EN_UPDATE = 0x0400;
constexpr int EN_MAXTEXT = 0x0501;
constexpr int CBN_SELCHANGE = 1;
constexpr int CBN_DBLCLK = 2;
constexpr int CBN_EDITCHANGE = 5;

// Owner drawing.
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODA_DRAWENTIRE = 1;
constexpr UINT ODS_SELECTED = 1;
constexpr UINT ODS_DISABLED = 4;
constexpr UINT ODS_FOCUS = 0x10;
struct DRAWITEMSTRUCT {
    UINT ctlType = ODT_BUTTON;
    UINT ctlId = 0;
    UINT itemId = 0;
    UINT itemAction = ODA_DRAWENTIRE;
    UINT itemState = 0;
    HWND hwndItem = 0;
    HDC hdc = 0;
    RECT rcItem;
    std::uintptr_t itemData = 0;
};

// Safe helpers over the combo box messages (texts without caller buffers).
int ComboAddString(HWND combo, std::string_view text);
int ComboFindStringExact(HWND combo, std::string_view text, int after = -1);
std::string ComboItemText(HWND combo, int index);
int ComboCount(HWND combo);

// What a display needs to draw a control: its kind and value.
enum class ControlType {
    kNone,
    kPushButton,
    kDefaultButton,
    kOwnerDrawButton,
    kCheckBox,
    kRadioButton,
    kGroupBox,
    kStaticText,
    kFrame,
    kRectangle,
    kIcon,
    kBitmap,
    kEdit,
    kComboList,
    kComboSimple
};
ControlType GetControlType(HWND hwnd);
int GetCheck(HWND button);
int ComboSelection(HWND combo);

}  // namespace ui
