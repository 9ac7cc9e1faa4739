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

HWND OpenMessageBox() {
    auto windows = AllWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (GetMessageBoxInfo(*it).isMessageBox && IsWindowVisible(*it) && !IsDialogEnded(*it))
            return *it;
    return 0;
}

}  // namespace

TerminalDisplay::TerminalDisplay(std::string terminal)
    : previous_(CurrentDisplay()), terminal_(std::move(terminal)) {
    SetDisplay(this);
}

TerminalDisplay::~TerminalDisplay() { SetDisplay(previous_); }

int TerminalDisplay::Ask(HWND box) {
    MessageBoxInfo info = GetMessageBoxInfo(box);
    std::vector<int> buttons = MessageBoxButtons(info.type);
    int answer = MessageBoxDefaultButton(info.type);
    std::string text = Plain(info.text);

    int fd = terminal_.empty() ? -1 : ::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "veldana: %s: %s [answered %s]\n", info.caption.c_str(), text.c_str(),
                     ButtonName(answer));
        return answer;
    }
    std::string prompt = "\n" + info.caption + "\n" + text + "\n";
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        prompt += (i ? " / " : "") + std::string("[") + ButtonName(buttons[i])[0] + "]" +
                  (ButtonName(buttons[i]) + 1);
    }
    prompt += std::string(" (Enter: ") + ButtonName(answer) + ") ";
    while (true) {
        [[maybe_unused]] ssize_t w = ::write(fd, prompt.data(), prompt.size());
        char line[64] = {};
        ssize_t n = ::read(fd, line, sizeof line - 1);
        if (n <= 0) break;  // the terminal went away: keep the default
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
        if (c == '\n' || c == '\r') break;
        bool matched = false;
        for (int id : buttons) {
            if (ButtonName(id)[0] == c) {
                answer = id;
                matched = true;
            }
        }
        if (matched) break;
    }
    ::close(fd);
    return answer;
}

bool TerminalDisplay::Idle(bool) {
    HWND box = OpenMessageBox();
    if (!box) return false;
    int answer = Ask(box);
    PostMessage(box, WM_COMMAND, MAKEWPARAM(answer, 0), static_cast<LPARAM>(GetDlgItem(box, answer)));
    return true;
}

}  // namespace ui
