#include "ui/terminal_display.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace ui {
namespace {

const char* ButtonName(int id) {
    switch (id) {
        case IDOK: return "OK";
        case IDCANCEL: return "Cancel";
        case IDABORT: return "Abort";
        case IDRETRY: return "Retry";
        case IDIGNORE: return "Ignore";
        case IDYES: return "Yes";
        case IDNO: return "No";
        default: return "?";
    }
}

// The text without '&' markers, CR LF as one line break.
std::string Plain(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

}  // namespace

HWND OpenMessageBoxWindow() {
    auto windows = AllWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (GetMessageBoxInfo(*it).isMessageBox && IsWindowVisible(*it) && !IsDialogEnded(*it))
            return *it;
    return 0;
}

std::string MessageBoxPrompt(HWND box) {
    MessageBoxInfo info = GetMessageBoxInfo(box);
    std::vector<int> buttons = MessageBoxButtons(info.type);
    std::string prompt = "\n" + info.caption + "\n" + Plain(info.text) + "\n";
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        prompt += (i ? " / " : "") + std::string("[") + ButtonName(buttons[i])[0] + "]" +
                  (ButtonName(buttons[i]) + 1);
    }
    prompt += std::string(" (Enter: ") + ButtonName(MessageBoxDefaultButton(info.type)) + ") ";
    return prompt;
}

std::optional<int> ParseMessageBoxAnswer(HWND box, std::string_view line) {
    MessageBoxInfo info = GetMessageBoxInfo(box);
    if (line.empty() || line[0] == '\n' || line[0] == '\r')
        return MessageBoxDefaultButton(info.type);
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
    for (int id : MessageBoxButtons(info.type))
        if (ButtonName(id)[0] == c) return id;
    return std::nullopt;
}

TerminalDisplay::TerminalDisplay(std::string terminal)
    : previous_(CurrentDisplay()), terminal_(std::move(terminal)) {
    SetDisplay(this);
}

TerminalDisplay::~TerminalDisplay() { SetDisplay(previous_); }

int TerminalDisplay::Ask(HWND box) {
    MessageBoxInfo info = GetMessageBoxInfo(box);
    int answer = MessageBoxDefaultButton(info.type);
    int fd = terminal_.empty() ? -1 : ::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "veldana: %s: %s [answered %s]\n", info.caption.c_str(),
                     Plain(info.text).c_str(), ButtonName(answer));
        return answer;
    }
    std::string prompt = MessageBoxPrompt(box);
    while (true) {
        [[maybe_unused]] ssize_t w = ::write(fd, prompt.data(), prompt.size());
        char line[64] = {};
        ssize_t n = ::read(fd, line, sizeof line - 1);
        if (n <= 0) break;  // the terminal went away: keep the default
        if (std::optional<int> chosen = ParseMessageBoxAnswer(box, line)) {
            answer = *chosen;
            break;
        }
    }
    ::close(fd);
    return answer;
}

bool TerminalDisplay::Idle(bool) {
    HWND box = OpenMessageBoxWindow();
    if (!box) return false;
    int answer = Ask(box);
    PostMessage(box, WM_COMMAND, MAKEWPARAM(answer, 0), static_cast<LPARAM>(GetDlgItem(box, answer)));
    return true;
}

}  // namespace ui
