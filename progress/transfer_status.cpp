#include "progress/transfer_status.h"

#include "platform/process_state.h"
#include "resources/dialogs.h"
#include "ui/progress.h"
#include "ui/window.h"

namespace progress {
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

// The window as the report of the work below it.
const ui::ProgressReport kWindowReport{
    .open = progress::OpenSharedProgressWindow,
    .setText = progress::SetProgressText,
    .close = progress::DestroySharedProgressWindow,
    .openOwn = progress::OpenPrivateProgressWindow,
};

void ResetAndInstall() {
    ResetTransferStatus();
    InstallProgressWindow();
}
const platform::StateReset kReset{platform::StateLayer::kProgress, &ResetAndInstall};

}  // namespace

TransferStatusState& TransferStatus() { return g_status; }

void ResetTransferStatus() {
    if (IsWindow(g_status.window)) DestroyWindow(g_status.window);
    DeleteDrawingObjects();
    g_status = TransferStatusState{};
}

void InstallProgressWindow() { ui::InstallProgressReport(&kWindowReport); }

void ShowTransferStatus(std::optional<std::string_view> text, StatusLevel level,
                        StatusParts parts, StatusPaint paint) {
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
            s.barShown = parts.bar;
            ShowWindow(GetDlgItem(s.window, kBarAreaId), s.barShown ? SW_SHOW : SW_HIDE);
            s.cancelShown = parts.cancel;
            HWND cancel = GetDlgItem(s.window, kCancelButtonId);
            ShowWindow(cancel, s.cancelShown ? SW_SHOW : SW_HIDE);
            if (s.cancelShown) SetFocus(cancel);
            if (text) SetDlgItemText(s.window, kStatusTextId, *text);
        }
    }
    if (s.depth < kStatusLevels) s.texts[static_cast<std::size_t>(s.depth)] = text ? std::string(*text) : "";
    if (level == StatusLevel::kNew) ++s.depth;
    if (!created) return;
    if (s.barShown) DrawBar();
    if (paint == StatusPaint::kNow) UpdateWindow(s.window);
}

void CloseTransferStatus(StatusClose close) {
    auto& s = g_status;
    if (s.window == 0) return;
    if (close == StatusClose::kAll) {
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
    g_status.texts = {};
}

INT_PTR TransferStatusProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
    auto& s = g_status;
    switch (message) {
        case WM_INITDIALOG:
            SetFocus(GetDlgItem(hwnd, kCancelButtonId));
            return TRUE;
        case WM_PAINT:
            if (s.TransferActive)
                ShowTransferStatus(std::nullopt, StatusLevel::kSame, {}, StatusPaint::kLater);
            return FALSE;
        case WM_COMMAND:
            if (s.cancelShown) CloseTransferStatus(StatusClose::kAll);
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

}  // namespace progress
