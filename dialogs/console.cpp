#include "dialogs/console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/process_state.h"
#include "platform/registry.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace dialogs {
namespace {

ConsoleState g_console;
constexpr int kSettingsNotSavedString = 8310;
const platform::StateReset kResetConsole{platform::StateLayer::kDialogs, &ResetConsole};

// Keeps a window of `size` starting at `at` inside a screen of `screen`: never below 0.
int KeepOnScreen(int at, int size, int screen) {
    at = std::max(at, 0);
    if (at + size > screen) at = screen - size;
    return at;
}

}  // namespace

ConsoleState& Console() {
    return g_console;
}
void ResetConsole() {
    g_console = ConsoleState{};
}

void RestoreDialogPosition(ui::HWND dialog) {
    const std::string text =
        settings::ReadSetting(settings::kKeyWindowPosition, {}, "").substr(0, 63);
    int x = 0, y = 0;
    if (const auto comma = text.find(',');
        comma != std::string::npos && text.find(',', comma + 1) == std::string::npos) {
        // Decimal values as atoi reads them: leading blanks, a sign, digits.
        x = static_cast<int>(std::clamp(std::strtol(text.c_str(), nullptr, 10), -1L, 1L << 20));
        y = static_cast<int>(
            std::clamp(std::strtol(text.c_str() + comma + 1, nullptr, 10), -1L, 1L << 20));
    }
    ui::RECT r;
    ui::GetWindowRect(dialog, r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    x = KeepOnScreen(x, width, ui::GetSystemMetrics(ui::SM_CXSCREEN));
    y = KeepOnScreen(y, height, ui::GetSystemMetrics(ui::SM_CYSCREEN));
    ui::SetWindowPos(dialog, ui::HWND_NOTOPMOST, x, y, 0, 0, ui::SWP_NOSIZE);
}

ui::INT_PTR RunDialogResource(std::string_view name, ui::HWND owner, ui::DLGPROC proc) {
    const ui::DialogTemplate* tmpl = resources::FindDialogResource(name);
    return tmpl ? ui::DialogBoxIndirect(*tmpl, owner, proc) : -1;
}

void ReportSettingsNotSaved(ui::HWND owner) {
    ui::MessageBox(owner,
                   resources::FormatText(resources::LoadStr(kSettingsNotSavedString),
                                         platform::RegistryError()), resources::LoadStr(resources::kMessageCaptionString),
                   ui::MB_OK | ui::MB_ICONSTOP);
}

void SaveDialogPosition(ui::HWND dialog) {
    ui::RECT r;
    ui::GetWindowRect(dialog, r);
    const int x = KeepOnScreen(r.left, r.right - r.left, ui::GetSystemMetrics(ui::SM_CXSCREEN));
    const int y = KeepOnScreen(r.top, r.bottom - r.top, ui::GetSystemMetrics(ui::SM_CYSCREEN));
    char text[64];
    std::snprintf(text, sizeof text, "%d, %d", x, y);
    settings::WriteSetting(settings::kKeyWindowPosition, {}, text);
}

}  // namespace dialogs
