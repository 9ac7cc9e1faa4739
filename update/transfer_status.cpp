#include "update/transfer_status.h"

#include "resources/dialogs.h"
#include "ui/window.h"

namespace update {
namespace {

using namespace ui;

TransferStatusState g_status;

void DeleteDrawingObjects() {
    auto& s = g_status;
    if (!s.haveDrawingObjects) return;
    DeleteObject(s.darkBluePen);
    DeleteObject(s.whitePen);
    DeleteObject(s.yellowBrush);
    DeleteObject(s.blueBrush);
    s.darkBluePen = s.whitePen = s.yellowBrush = s.blueBrush = 0;
    s.haveDrawingObjects = false;
}

void DrawBar() {
    auto& s = g_status;
    HWND area = GetDlgItem(s.window, kBarAreaId);
    HDC hdc = GetDC(area);
    if (!hdc) return;
    if (!s.haveDrawingObjects) {
        s.darkBluePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 128));
        s.whitePen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
        s.yellowBrush = CreateSolidBrush(RGB(255, 255, 0));
        s.blueBrush = CreateSolidBrush(RGB(0, 0, 255));
        s.haveDrawingObjects = true;
        RECT client;
        GetClientRect(area, client);
        s.bar = RECT{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
    }
    const RECT& b = s.bar;
    int fill = (b.right - b.left) * s.percentage / 100;

    HGDIOBJ oldPen = SelectObject(hdc, s.darkBluePen);
    FillRect(hdc, b, s.blueBrush);
    MoveToEx(hdc, b.left, b.top, nullptr);
    LineTo(hdc, b.left, b.bottom);
    LineTo(hdc, b.right, b.bottom);
    LineTo(hdc, b.right, b.top);
    LineTo(hdc, b.left, b.top);
    if (s.percentage > 0) {
        FillRect(hdc, RECT{b.left + 1, b.top + 1, b.left + fill, b.bottom}, s.yellowBrush);
        MoveToEx(hdc, b.left + fill, b.top, nullptr);
        LineTo(hdc, b.left + fill, b.bottom);
    }
    SelectObject(hdc, s.whitePen);
    if (s.percentage > 0) {
        MoveToEx(hdc, b.left, b.bottom, nullptr);
        LineTo(hdc, b.left, b.top);
        LineTo(hdc, b.left + fill - 1, b.top);
    }
    MoveToEx(hdc, b.left + fill + 1, b.bottom, nullptr);
    LineTo(hdc, b.right, b.bottom);
    LineTo(hdc, b.right, b.top);
    SelectObject(hdc, oldPen);
    ReleaseDC(area, hdc);
}

}  // namespace

TransferStatusState& TransferStatus() { return g_status; }

void ResetTransferStatus() {
    if (IsWindow(g_status.window)) DestroyWindow(g_status.window);
    DeleteDrawingObjects();
    g_status = TransferStatusState{};
}

void ShowTransferStatus(std::optional<std::string_view> text, int newLevel, int showCancel,
                        int showBar, int noRepaint) {
    auto& s = g_status;
    bool created = true;
    if (s.window != 0) {
        if (text) SetDlgItemText(s.window, kStatusTextId, *text);
    } else {
        const DialogTemplate* tmpl = resources::FindDialogResource("GETFILE");
        s.window = tmpl ? CreateDialogIndirect(*tmpl, 0, TransferStatusProc) : 0;
        s.depth = 0;
        created = s.window != 0;
        if (created) {
            ShowWindow(s.window, SW_SHOW);
            s.barShown = showBar == 1;
            ShowWindow(GetDlgItem(s.window, kBarAreaId), s.barShown ? SW_SHOW : SW_HIDE);
            s.cancelShown = showCancel == 1;
            HWND cancel = GetDlgItem(s.window, kCancelButtonId);
            ShowWindow(cancel, s.cancelShown ? SW_SHOW : SW_HIDE);
            if (s.cancelShown) SetFocus(cancel);
            if (text) SetDlgItemText(s.window, kStatusTextId, *text);
        }
    }
    if (s.depth < kStatusLevels) s.texts[static_cast<std::size_t>(s.depth)] = text ? std::string(*text) : "";
    if (newLevel == 1) ++s.depth;
    if (!created) return;
    if (s.barShown) DrawBar();
    if (noRepaint != 1) UpdateWindow(s.window);
}

void CloseTransferStatus(int force) {
    auto& s = g_status;
    if (s.window == 0) return;
    if (force == 1) {
        s.depth = 0;
    } else if (s.depth > 0) {
        --s.depth;
        if (s.depth < kStatusLevels) s.texts[static_cast<std::size_t>(s.depth)].clear();
    }
    if (s.depth == 0) {
        s.texts[0].clear();
        SendMessage(s.window, WM_CLOSE_TRANSFER_STATUS, 2, 0);
        DeleteDrawingObjects();
        s.window = 0;
        return;
    }
    if (s.depth < kStatusLevels && !s.texts[static_cast<std::size_t>(s.depth - 1)].empty())
        SetDlgItemText(s.window, kStatusTextId, s.texts[static_cast<std::size_t>(s.depth - 1)]);
}

HWND OpenPrivateProgressWindow(std::string_view text) {
    const DialogTemplate* tmpl = resources::FindDialogResource("GETFILE");
    HWND window = tmpl ? CreateDialogIndirect(*tmpl, 0, TransferStatusProc) : 0;
    if (!window) return 0;
    ShowWindow(window, SW_SHOW);
    ShowWindow(GetDlgItem(window, kCancelButtonId), SW_HIDE);
    SetDlgItemText(window, kStatusTextId, text);
    return window;
}

bool OpenSharedProgressWindow(std::string_view text) {
    if (g_status.window) return false;
    g_status.window = OpenPrivateProgressWindow(text);
    return g_status.window != 0;
}

void SetProgressText(std::string_view text) {
    if (g_status.window) SetDlgItemText(g_status.window, kStatusTextId, text);
}

void DestroySharedProgressWindow() {
    if (!g_status.window) return;
    DestroyWindow(g_status.window);
    DeleteDrawingObjects();
    g_status.window = 0;
    g_status.depth = 0;
}

INT_PTR TransferStatusProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
    auto& s = g_status;
    switch (message) {
        case WM_INITDIALOG:
            SetFocus(GetDlgItem(hwnd, kCancelButtonId));
            return TRUE;
        case WM_PAINT:
            if (s.TransferActive) ShowTransferStatus(std::nullopt, 0, 1, 1, 1);
            return FALSE;
        case WM_COMMAND:
            if (s.cancelShown) CloseTransferStatus(1);
            s.cancelShown = false;
            s.TransferCancelRequested = true;
            return TRUE;
        case WM_CLOSE_TRANSFER_STATUS:
            EndDialog(hwnd, 0);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace update
