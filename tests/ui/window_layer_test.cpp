// The window layer as the console uses it: nested loops, re-entrant handlers, dialogs,
// controls and message boxes, driven by the headless display's scripted user.
#include <unistd.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

using namespace ui;

// What the handlers under test did, in order.
std::vector<std::string> g_log;

class WindowLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetWindowLayer();
        g_log.clear();
        display.onStuck = [](const std::string& state) { FAIL() << "stuck:\n" << state; };
    }
    void TearDown() override { ResetWindowLayer(); }
    HeadlessDisplay display;
};

DialogTemplate SampleTemplate() {
    DialogTemplate t;
    t.name = "SAMPLE";
    t.caption = "Sample";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.cx = 200;
    t.cy = 120;
    t.controls = {
        {"BUTTON", IDOK, "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 10, 100, 40, 14},
        {"BUTTON", IDCANCEL, "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 60, 100, 40, 14},
        {"BUTTON", 10, "&Work", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | WS_VISIBLE, 10, 10, 50, 10},
        {"BUTTON", 11, "&Leisure", BS_AUTORADIOBUTTON | WS_VISIBLE, 10, 22, 50, 10},
        {"BUTTON", 20, "&Full", BS_AUTORADIOBUTTON | WS_GROUP | WS_VISIBLE, 70, 10, 50, 10},
        {"BUTTON", 21, "&None", BS_AUTORADIOBUTTON | WS_VISIBLE, 70, 22, 50, 10},
        {"BUTTON", 30, "Category", BS_AUTOCHECKBOX | WS_GROUP | WS_VISIBLE, 10, 40, 80, 10},
        {"EDIT", 40, "", ES_AUTOHSCROLL | WS_TABSTOP | WS_VISIBLE, 10, 55, 80, 12},
        {"COMBOBOX", 50, "", CBS_SIMPLE | CBS_SORT | WS_VISIBLE, 100, 40, 90, 50},
        {"COMBOBOX", 51, "", CBS_DROPDOWNLIST | WS_VISIBLE, 100, 92, 90, 50},
    };
    return t;
}

INT_PTR LoggingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND) {
        int id = LOWORD(wParam), code = HIWORD(wParam);
        g_log.push_back("command " + std::to_string(id) + "/" + std::to_string(code));
        if (id == IDOK || id == IDCANCEL) EndDialog(hwnd, id);
        return TRUE;
    }
    return FALSE;
}

TEST_F(WindowLayerTest, ModalDialogRunsTheScriptAndReturnsItsResult) {
    DialogTemplate t = SampleTemplate();
    display.Then([&] {
        HWND dlg = display.FindTopLevel("Sample");
        ASSERT_NE(dlg, 0u);
        display.Click(dlg, 11);
        display.Click(dlg, 30);
    });
    display.Then([&] {
        HWND dlg = display.FindTopLevel("Sample");
        EXPECT_EQ(IsDlgButtonChecked(dlg, 10), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dlg, 11), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dlg, 30), BST_CHECKED);
        display.PressKey(dlg, VK_ESCAPE);
    });
    EXPECT_EQ(DialogBoxIndirect(t, 0, LoggingProc), IDCANCEL);
    EXPECT_EQ(g_log, (std::vector<std::string>{"command 11/0", "command 30/0", "command 2/0"}));
    EXPECT_EQ(display.FindTopLevel("Sample"), 0u) << "the dialog is gone";
}

TEST_F(WindowLayerTest, ControlsBehaveAsTheDialogsExpect) {
    DialogTemplate t = SampleTemplate();
    HWND dlg = CreateDialogIndirect(t, 0, LoggingProc);
    ASSERT_NE(dlg, 0u);
    ShowWindow(dlg, SW_SHOW);

    // Radio groups are separate; CheckRadioButton sets one and clears the rest of a range.
    display.Click(dlg, 20);
    display.Click(dlg, 10);
    display.RunUntilIdle();
    EXPECT_EQ(IsDlgButtonChecked(dlg, 20), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 10), BST_CHECKED);
    CheckRadioButton(dlg, 20, 21, 21);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 20), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 21), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 10), BST_CHECKED);

    // A disabled control ignores the user.
    EnableWindow(GetDlgItem(dlg, 30), FALSE);
    display.Click(dlg, 30);
    display.RunUntilIdle();
    EXPECT_EQ(IsDlgButtonChecked(dlg, 30), BST_UNCHECKED);

    // Edit fields keep to their limit when typed into, not when set.
    HWND edit = GetDlgItem(dlg, 40);
    SendMessage(edit, EM_LIMITTEXT, 5);
    display.Type(edit, "abcdefgh");
    display.RunUntilIdle();
    EXPECT_EQ(GetWindowText(edit), "abcde");
    display.ReplaceText(edit, "xy");
    display.RunUntilIdle();
    EXPECT_EQ(GetWindowText(edit), "xy");
    SetWindowText(edit, "longer than five");
    EXPECT_EQ(GetDlgItemText(dlg, 40), "longer than five");

    // A sorted simple combo box with item data and exact search that ignores case.
    HWND combo = GetDlgItem(dlg, 50);
    for (const char* s : {"www.b.example", "A.example", "c.example"}) ComboAddString(combo, s);
    EXPECT_EQ(ComboItemText(combo, 0), "A.example");
    EXPECT_EQ(ComboItemText(combo, 2), "www.b.example");
    SendMessage(combo, CB_SETITEMDATA, 1, 0x01020304);
    EXPECT_EQ(SendMessage(combo, CB_GETITEMDATA, 1), 0x01020304);
    EXPECT_EQ(ComboFindStringExact(combo, "C.EXAMPLE"), 1);
    EXPECT_EQ(ComboFindStringExact(combo, "c.exam"), CB_ERR);
    EXPECT_EQ(SendMessage(combo, CB_FINDSTRING, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>("WWW")),
              2);
    ASSERT_TRUE(display.PickItem(combo, "c.example"));
    display.RunUntilIdle();
    EXPECT_EQ(GetWindowText(combo), "c.example") << "the edit part shows the pick";
    EXPECT_EQ(SendMessage(combo, CB_DELETESTRING, 0), 2);
    EXPECT_EQ(ComboSelection(combo), 0) << "the selection follows its item";

    HWND list = GetDlgItem(dlg, 51);
    ComboAddString(list, "first");
    ComboAddString(list, "second");
    display.PickItem(list, 1);
    display.RunUntilIdle();
    EXPECT_EQ(SendMessage(list, CB_GETCURSEL), 1);

    // Typing notifies EN_UPDATE (0x400) then EN_CHANGE (0x300).
    std::vector<std::string> expected = {"command 20/0", "command 10/0", "command 40/1024",
                                         "command 40/768"};
    EXPECT_EQ(std::vector<std::string>(g_log.begin(), g_log.begin() + 4), expected);
    EXPECT_EQ(g_log.back(), "command 51/1") << "CBN_SELCHANGE";
    DestroyWindow(dlg);
}

TEST_F(WindowLayerTest, EnterUsesTheDefaultButtonUnlessItIsDisabled) {
    DialogTemplate t = SampleTemplate();
    HWND dlg = CreateDialogIndirect(t, 0, LoggingProc);
    ShowWindow(dlg, SW_SHOW);
    SetFocus(GetDlgItem(dlg, 40));
    EnableWindow(GetDlgItem(dlg, IDOK), FALSE);
    display.PressKey(VK_RETURN);
    display.RunUntilIdle();
    EXPECT_TRUE(g_log.empty());
    EnableWindow(GetDlgItem(dlg, IDOK), TRUE);
    display.PressKey(VK_RETURN);
    display.RunUntilIdle();
    EXPECT_EQ(g_log, std::vector<std::string>{"command 1/0"});
    EXPECT_FALSE(IsWindow(dlg)) << "a modeless dialog that ends goes away";
}

// A message box from inside a modal dialog's handler holds that handler until the user
// answers, and the answer comes back.
INT_PTR AskingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        g_log.push_back("asking");
        int answer = MessageBox(hwnd, "Do you wish to abandon these changes?", "Veldana Message",
                                MB_YESNO | MB_ICONQUESTION);
        g_log.push_back("answer " + std::to_string(answer));
        if (answer == IDYES) EndDialog(hwnd, 7);
        return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

TEST_F(WindowLayerTest, MessageBoxInsideAModalDialogBlocksItsHandler) {
    DialogTemplate t = SampleTemplate();
    display.Then([&] { display.Click(display.FindTopLevel("Sample"), IDOK); });
    display.Then([&] {
        // The handler is still inside MessageBox: nothing after it has run.
        EXPECT_EQ(g_log, std::vector<std::string>{"asking"});
        HWND box = display.TopMessageBox();
        ASSERT_NE(box, 0u);
        EXPECT_FALSE(IsWindowEnabled(display.FindTopLevel("Sample"))) << "its owner is disabled";
        display.AnswerMessageBox(IDNO);
    });
    display.Then([&] { display.Click(display.FindTopLevel("Sample"), IDOK); });
    display.Then([&] { display.AnswerMessageBox(IDYES); });
    EXPECT_EQ(DialogBoxIndirect(t, 0, AskingProc), 7);
    EXPECT_EQ(g_log, (std::vector<std::string>{"asking", "answer 7", "asking", "answer 6"}));
    ASSERT_EQ(display.MessageBoxes().size(), 2u);
    const auto& seen = display.MessageBoxes()[0];
    EXPECT_EQ(seen.text, "Do you wish to abandon these changes?");
    EXPECT_EQ(seen.caption, "Veldana Message");
    EXPECT_EQ(seen.type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(seen.answer, IDNO);
    EXPECT_EQ(MessageBoxButtons(MB_YESNOCANCEL), (std::vector<int>{IDYES, IDNO, IDCANCEL}));
}

// Long work inside a handler pumps messages: a timer fires and posted commands run in the
// middle of it, in the order they were posted.
HWND g_main = 0;
bool g_working = false;

LRESULT WorkerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            g_log.push_back("command " + std::to_string(LOWORD(wParam)));
            if (LOWORD(wParam) == 100) {
                g_working = true;
                SetTimer(hwnd, 1, 10);
                PostMessage(hwnd, WM_COMMAND, 201, 0);
                PostMessage(hwnd, WM_COMMAND, 202, 0);
                // Work that waits and pumps until the timer has fired twice.
                int ticks = 0;
                while (std::count(g_log.begin(), g_log.end(), "tick") < 2 && ++ticks < 1000) {
                    WaitForInput({}, 50);
                    PumpMessages();
                }
                KillTimer(hwnd, 1);
                g_working = false;
                g_log.push_back("work done");
            }
            return 0;
        case WM_TIMER:
            g_log.push_back(g_working ? "tick" : "late tick");
            return 0;
        default:
            return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

TEST_F(WindowLayerTest, AHandlerThatPumpsLetsTimersAndPostedCommandsRun) {
    WNDCLASS wc;
    wc.className = "Worker";
    wc.proc = WorkerProc;
    ASSERT_TRUE(RegisterClass(wc));
    g_main = CreateWindowEx(0, "Worker", "worker", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, 0);
    PostMessage(g_main, WM_COMMAND, 100, 0);
    display.RunUntilIdle();
    std::vector<std::string> expected = {"command 100", "command 201", "command 202", "tick",
                                         "tick", "work done"};
    EXPECT_EQ(g_log, expected);
}

TEST_F(WindowLayerTest, ModalDialogsPostedFollowUpCommandsRunInOrder) {
    struct Proc {
        static INT_PTR Run(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
            if (message == WM_INITDIALOG) {
                for (int id = 501; id <= 503; ++id) PostMessage(hwnd, WM_COMMAND, id, 0);
                return TRUE;
            }
            if (message == WM_COMMAND) {
                g_log.push_back(std::to_string(LOWORD(wParam)));
                if (LOWORD(wParam) == 503) EndDialog(hwnd, 1);
                return TRUE;
            }
            return FALSE;
        }
    };
    DialogTemplate t = SampleTemplate();
    EXPECT_EQ(DialogBoxIndirect(t, 0, Proc::Run), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"501", "502", "503"}));
}

TEST_F(WindowLayerTest, SystemMenuAndRestoreOfAMinimizedWindow) {
    struct Proc {
        static LRESULT Run(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_QUERYOPEN) {
                g_log.push_back("query open");
                return FALSE;  // stays an icon
            }
            if (message == WM_SYSCOMMAND && wParam == 4011) {
                g_log.push_back("toggle");
                return 0;
            }
            return DefWindowProc(hwnd, message, wParam, lParam);
        }
    };
    WNDCLASS wc;
    wc.className = "ProxyPClass";
    wc.proc = Proc::Run;
    RegisterClass(wc);
    HWND main = CreateWindowEx(0, "ProxyPClass", "Veldana - Proxy", WS_OVERLAPPEDWINDOW, 0, 0,
                               200, 100, 0);
    ShowWindow(main, SW_SHOWMINIMIZED);
    HMENU menu = GetSystemMenu(main, FALSE);
    ModifyMenu(menu, SC_RESTORE, MF_BYCOMMAND | MF_STRING, SC_RESTORE, "Head&quarters");
    AppendMenu(menu, MF_SEPARATOR, 0);
    AppendMenu(menu, MF_STRING | MF_CHECKED, 4011, "Automatic &Download");
    EXPECT_EQ(CheckMenuItem(menu, 4011, MF_UNCHECKED), static_cast<UINT>(MF_CHECKED));
    auto items = MenuItems(menu);
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[0].text, "Head&quarters");
    EXPECT_EQ(items[8].flags & MF_CHECKED, 0u);

    display.ChooseSystemMenuItem(main, 4011);
    display.ChooseSystemMenuItem(main, SC_RESTORE);
    display.RunUntilIdle();
    EXPECT_EQ(g_log, (std::vector<std::string>{"toggle", "query open"}));
    EXPECT_TRUE(IsIconic(main));
    EXPECT_EQ(FindWindow("proxypclass"), main);
}

TEST_F(WindowLayerTest, PostingFromAnotherThreadWakesTheWaitingLoop) {
    WNDCLASS wc;
    wc.className = "Target";
    wc.proc = DefWindowProc;
    RegisterClass(wc);
    HWND target = CreateWindowEx(0, "Target", "", WS_OVERLAPPED, 0, 0, 10, 10, 0);
    std::thread poster([target] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PostMessage(target, WM_USER + 5, 42, 0);
    });
    display.onStuck = nullptr;  // waiting for the other thread is expected here
    MSG msg;
    ASSERT_TRUE(GetMessage(msg));
    poster.join();
    EXPECT_EQ(msg.message, WM_USER + 5);
    EXPECT_EQ(msg.wParam, 42u);
}

// A watched descriptor wakes the loop; its function runs on the GUI thread and may post, and
// may unwatch itself; an unwatched descriptor no longer runs anything.
TEST_F(WindowLayerTest, AWatchedDescriptorRunsItsFunctionInsideTheWait) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int runs = 0;
    WatchDescriptor(fds[0], [&] {
        char c;
        ASSERT_EQ(read(fds[0], &c, 1), 1);
        ++runs;
        PostMessage(0, WM_USER + 7, static_cast<WPARAM>(c), 0);
        if (c == 'b') UnwatchDescriptor(fds[0]);
    });
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_EQ(write(fds[1], "ab", 2), 2);
    });
    MSG msg;
    for (char expected : {'a', 'b'}) {
        ASSERT_TRUE(GetMessage(msg));
        EXPECT_EQ(msg.message, WM_USER + 7);
        EXPECT_EQ(msg.wParam, static_cast<WPARAM>(expected));
    }
    writer.join();
    ASSERT_EQ(write(fds[1], "c", 1), 1);
    EXPECT_EQ(WaitForInput({}, 20), 0);
    EXPECT_EQ(runs, 2) << "unwatched";
    close(fds[0]);
    close(fds[1]);
}

TEST_F(WindowLayerTest, StuckScriptsAreReported) {
    std::string reported;
    display.onStuck = [&](const std::string& state) {
        reported = state;
        PostQuitMessage(3);  // lets the loop below end
    };
    DialogTemplate t = SampleTemplate();
    INT_PTR r = DialogBoxIndirect(t, 0, LoggingProc);
    EXPECT_EQ(r, -1) << "a quit message ends the modal loop";
    EXPECT_NE(reported.find("\"Sample\""), std::string::npos) << reported;
    MSG msg;
    ASSERT_TRUE(PeekMessage(msg));
    EXPECT_EQ(msg.message, WM_QUIT) << "and is posted again for the outer loop";
}

}  // namespace
