// MainWindow in process: the cross-thread read of 编辑框1, 按钮1's caption, the look that only
// the window's own process can see, the keyboard rules and the focus on reactivation.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "app/start_stop.h"
#include "app/win32/main_window.h"
#include "sync/main_window_link.h"

// After windows.h, which the seam brings.
#include <commctrl.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void PumpFor(milliseconds duration) {
    const auto end = Clock::now() + duration;
    MSG message{};
    while (Clock::now() < end) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
}

// Waits for a reader on another thread while the GUI thread keeps serving its queue, as the
// message loop would.
template <typename T>
bool PumpUntilReady(std::future<T>& result, milliseconds limit) {
    const auto end = Clock::now() + limit;
    MSG message{};
    while (result.wait_for(milliseconds(0)) != std::future_status::ready) {
        if (Clock::now() >= end)
            return false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(1);
    }
    return true;
}

void SetModifiers(bool shift, bool control) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_MENU] = 0;
    SetKeyboardState(keys);
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        window = CreateMainWindow(GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        PumpFor(milliseconds(100));
        edit = GetDlgItem(window, Edit1Id);
        button = GetDlgItem(window, Button1Id);
    }

    void TearDown() override {
        SetModifiers(false, false);
        if (other != nullptr)
            DestroyWindow(other);
        if (IsWindow(window))
            DestroyWindow(window);
        // WM_DESTROY posted the quit message; the next test starts with an empty queue.
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }

    // A second top-level window of the same thread, to take the activation away.
    HWND MakeOtherWindow() {
        other = CreateWindowExW(0, L"Static", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                                100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        return other;
    }

    HWND window = nullptr;
    HWND edit = nullptr;
    HWND button = nullptr;
    HWND other = nullptr;
};

TEST_F(MainWindowTest, ReadIntervalTextGivesTheBoxAs936Bytes) {
    struct Case {
        const char* name;
        const wchar_t* typed;  // null: the box as created
        TextValue expected;
        bool onGuiThread;
    };
    const std::wstring longText(40000, L'7');
    const Case cases[] = {
        {"the box as created holds 800", nullptr, "800", false},
        {"Chinese text comes back in 936 whatever the ANSI code page",
         L"\x4E2D\x6587"
         L"12",
         "\xD6\xD0\xCE\xC4"
         "12",
         false},
        {"letters are kept as typed", L"ab800", "ab800", false},
        {"an empty box gives the empty text", L"", "", false},
        {"a text longer than any fixed buffer comes back whole", longText.c_str(),
         TextValue(40000, '7'), false},
        {"the GUI thread itself may read too",
         L"\x4E2D"
         L"5",
         "\xD6\xD0"
         "5",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.typed != nullptr)
            SetWindowTextW(edit, c.typed);
        if (c.onGuiThread) {
            EXPECT_EQ(ReadIntervalText(), c.expected);
            continue;
        }
        std::future<TextValue> read = std::async(std::launch::async, ReadIntervalText);
        ASSERT_TRUE(PumpUntilReady(read, milliseconds(5000)));
        EXPECT_EQ(read.get(), c.expected);
    }
}

TEST_F(MainWindowTest, ReadIntervalTextAfterTheWindowIsGoneGivesEmptyAtOnce) {
    DestroyWindow(window);
    EXPECT_EQ(ReadIntervalText(), "");
    // No pumping here: a reader that still sent to the GUI thread would wait for it.
    const auto start = Clock::now();
    std::future<TextValue> read = std::async(std::launch::async, ReadIntervalText);
    ASSERT_EQ(read.wait_for(milliseconds(2000)), std::future_status::ready);
    EXPECT_EQ(read.get(), "");
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}

TEST_F(MainWindowTest, ReadIntervalTextDoesNotHangWhenTheGuiThreadStopsServing) {
    const auto start = Clock::now();
    std::future<TextValue> read = std::async(std::launch::async, ReadIntervalText);
    // The GUI thread serves nothing while it waits here.
    ASSERT_EQ(read.wait_for(milliseconds(8000)), std::future_status::ready);
    EXPECT_EQ(read.get(), "");
    EXPECT_LT(Clock::now() - start, milliseconds(7000));
    // The request left in the queue is answered late, into memory that still belongs to it.
    PumpFor(milliseconds(200));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindowTest, SetStartStopCaptionShowsThe936TextOnTheButton) {
    struct Case {
        const char* name;
        TextValue caption;
        std::wstring shown;
    };
    const Case cases[] = {
        {"the stop caption", "\xCD\xA3\xD6\xB9", L"\x505C\x6B62"},   // "停止"
        {"the start caption", "\xC6\xF4\xB6\xAF", L"\x542F\x52A8"},  // "启动"
        {"an empty caption", "", L""},
    };
    EXPECT_EQ(TextOf(button), L"\x542F\x52A8");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetStartStopCaption(c.caption);
        EXPECT_EQ(TextOf(button), c.shown);
    }
}

TEST_F(MainWindowTest, WindowClassIconsAndFontsAreTheDescribedOnes) {
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(window, GCLP_HCURSOR)),
              LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
    EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
    const auto guiFont = reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
    for (int id : {Label3Id, Label2Id, Button1Id, Edit1Id, Label1Id}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(SendMessageW(GetDlgItem(window, id), WM_GETFONT, 0, 0), guiFont);
    }
    // The manifest binds common controls 6: only its button answers BCM_GETIDEALSIZE.
    SIZE ideal{};
    EXPECT_TRUE(SendMessageW(button, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
    EXPECT_GT(ideal.cx, 0);
    // EM_LIMITTEXT with 0: the single-line control's own maximum, not the default 30000.
    EXPECT_GT(SendMessageW(edit, EM_GETLIMITTEXT, 0, 0), 30000);
}

TEST_F(MainWindowTest, KeyDownsAreHandledBeforeTheControlSeesThem) {
    struct Case {
        const char* name;
        bool onButton;  // else the key goes to 编辑框1
        WPARAM key;
        bool shift;
        bool control;
        UINT message;
        bool handled;
        bool stillOpen;
        bool focusOnButton;  // afterwards
    };
    const Case cases[] = {
        {"Esc in the edit box closes", false, VK_ESCAPE, false, false, WM_KEYDOWN, true, false,
         false},
        {"Esc on the button closes", true, VK_ESCAPE, false, false, WM_KEYDOWN, true, false, true},
        {"Shift+Esc is left to the control", false, VK_ESCAPE, true, false, WM_KEYDOWN, false, true,
         false},
        {"Ctrl+Esc is left to the control", false, VK_ESCAPE, false, true, WM_KEYDOWN, false, true,
         false},
        {"a key-up of Esc closes nothing", false, VK_ESCAPE, false, false, WM_KEYUP, false, true,
         false},
        {"Tab goes from the edit box to the button", false, VK_TAB, false, false, WM_KEYDOWN, true,
         true, true},
        {"Tab goes from the button back to the edit box", true, VK_TAB, false, false, WM_KEYDOWN,
         true, true, false},
        {"Shift+Tab goes from the edit box to the button", false, VK_TAB, true, false, WM_KEYDOWN,
         true, true, true},
        {"Enter is kept from the edit box", false, VK_RETURN, false, false, WM_KEYDOWN, true, true,
         false},
        {"Enter on the button clicks nothing", true, VK_RETURN, false, false, WM_KEYDOWN, true,
         true, true},
        {"a letter goes on to the edit box", false, 'A', false, false, WM_KEYDOWN, false, true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!IsWindow(window))
            SetUp();
        SetFocus(c.onButton ? button : edit);
        SetModifiers(c.shift, c.control);
        MSG message{};
        message.hwnd = c.onButton ? button : edit;
        message.message = c.message;
        message.wParam = c.key;
        EXPECT_EQ(PreTranslateMainWindowKey(window, message), c.handled);
        SetModifiers(false, false);
        EXPECT_EQ(IsWindow(window) != FALSE, c.stillOpen);
        if (c.stillOpen) {
            EXPECT_EQ(GetFocus(), c.focusOnButton ? button : edit);
            EXPECT_EQ(TextOf(button), L"\x542F\x52A8");  // "启动": nothing was clicked
        }
    }
}

TEST_F(MainWindowTest, KeysForAnotherWindowAreNotHandled) {
    MSG message{};
    message.hwnd = MakeOtherWindow();
    message.message = WM_KEYDOWN;
    message.wParam = VK_ESCAPE;
    EXPECT_FALSE(PreTranslateMainWindowKey(window, message));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindowTest, FocusStartsInTheEditBoxAndComesBackOnReactivation) {
    EXPECT_EQ(GetFocus(), edit);
    const DWORD selection = static_cast<DWORD>(SendMessageW(edit, EM_GETSEL, 0, 0));
    EXPECT_EQ(LOWORD(selection), 0);
    EXPECT_EQ(HIWORD(selection), 0);

    struct Case {
        const char* name;
        bool buttonHadIt;
    };
    const Case cases[] = {
        {"the button had the focus", true},
        {"the edit box had the focus", false},
    };
    MakeOtherWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetActiveWindow(window);
        SetFocus(c.buttonHadIt ? button : edit);
        SetActiveWindow(other);
        PumpFor(milliseconds(50));
        ASSERT_NE(GetFocus(), c.buttonHadIt ? button : edit);
        SetActiveWindow(window);
        PumpFor(milliseconds(50));
        EXPECT_EQ(GetFocus(), c.buttonHadIt ? button : edit);
    }
}

}  // namespace
