// MainWindow on Win32: builds the window and its controls, draws the labels, applies the keyboard
// rules, and serves the two operations that the start/stop control and the loop call.
#include "app/win32/main_window.h"

#include <commctrl.h>

#include <atomic>
#include <climits>
#include <memory>
#include <vector>

#include "app/start_stop.h"
#include "app/win32/resource_ids.h"
#include "sync/main_window_link.h"

namespace {

constexpr wchar_t WindowClassName[] = L"TockmereMainWindow";
constexpr wchar_t WindowCaption[] = L"Tockmere";
constexpr int WindowWidth = 222;
constexpr int WindowHeight = 169;
constexpr DWORD WindowStyle =
    WS_THICKFRAME | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// The read of 编辑框1 for another thread, served by the GUI thread's window procedure.
constexpr UINT ReadIntervalMessage = WM_APP + 1;
// How long a reader waits for the GUI thread before it takes the empty text; SMTO_ABORTIFHUNG
// gives up sooner when the GUI thread has stopped serving its queue.
constexpr UINT ReadIntervalTimeoutMs = 5000;

// The live window for readers on other threads; cleared in WM_DESTROY, so a reader that comes
// later never sends to a handle that may already name another window.
std::atomic<HWND> LiveMainWindow{nullptr};

// The control that had the focus when the window was last deactivated (GUI thread only).
HWND FocusBeforeDeactivation = nullptr;

struct ControlDescription {
    int id;
    const wchar_t* className;
    const char* text;  // code page 936
    int left;
    int top;
    int width;
    int height;
    DWORD style;
    DWORD exStyle;
};

// Lower siblings must not paint over higher ones: 按钮1 covers the two bottom rows of 标签1.
constexpr DWORD ChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
constexpr DWORD LabelStyle = ChildStyle | SS_OWNERDRAW;

// The controls in their stacking order, topmost first.
const ControlDescription Controls[] = {
    // 标签3: "本机时钟与网络时间同步"
    {Label3Id, WC_STATICW,
     "\xB1\xBE\xBB\xFA\xCA\xB1\xD6\xD3\xD3\xEB\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4\xCD\xAC\xB2\xBD", 32,
     104, 144, 24, LabelStyle, 0},
    // 标签2: "1秒=1000毫秒"
    {Label2Id, WC_STATICW, "1\xC3\xEB=1000\xBA\xC1\xC3\xEB", 24, 72, 168, 24, LabelStyle, 0},
    // 按钮1: "启动"
    {Button1Id, WC_BUTTONW, "\xC6\xF4\xB6\xAF", 104, 30, 56, 26,
     ChildStyle | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE, 0},
    // 编辑框1
    {Edit1Id, WC_EDITW, "800", 24, 33, 72, 21, ChildStyle | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
     WS_EX_CLIENTEDGE},
    // 标签1: "自动校准时间 单位(毫秒)"
    {Label1Id, WC_STATICW,
     "\xD7\xD4\xB6\xAF\xD0\xA3\xD7\xBC\xCA\xB1\xBC\xE4 \xB5\xA5\xCE\xBB(\xBA\xC1\xC3\xEB)", 24, 8,
     144, 24, LabelStyle, 0},
};

std::wstring WindowTextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void DrawLabel(const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    const std::wstring text = WindowTextOf(item.hwndItem);
    auto font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    if (font == nullptr)
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const HGDIOBJ oldFont = SelectObject(item.hDC, font);
    const int oldMode = SetBkMode(item.hDC, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(item.hDC, RGB(0, 0, 0));
    RECT bounds = item.rcItem;
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SetTextColor(item.hDC, oldColour);
    SetBkMode(item.hDC, oldMode);
    SelectObject(item.hDC, oldFont);
}

bool IsTabStop(HWND control) {
    return (GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP) != 0 && IsWindowVisible(control) &&
           IsWindowEnabled(control);
}

// The tab stops in stacking order, topmost first.
std::vector<HWND> TabStops(HWND window) {
    std::vector<HWND> stops;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsTabStop(child))
            stops.push_back(child);
    }
    return stops;
}

// Every tab position is 0, so the first tab stop from the bottom of the stacking order wins.
HWND FirstTabStop(HWND window) {
    const std::vector<HWND> stops = TabStops(window);
    return stops.empty() ? nullptr : stops.back();
}

void MoveFocusToNextTabStop(HWND window, bool backwards) {
    const std::vector<HWND> stops = TabStops(window);
    if (stops.empty())
        return;
    const HWND focus = GetFocus();
    const std::size_t count = stops.size();
    std::size_t next = backwards ? count - 1 : 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (stops[i] == focus) {
            next = backwards ? (i + count - 1) % count : (i + 1) % count;
            break;
        }
    }
    SetFocus(stops[next]);
}

void PassFocusOn(HWND window) {
    HWND target = FocusBeforeDeactivation;
    if (target == nullptr || !IsWindow(target) || !IsChild(window, target) || !IsTabStop(target)) {
        target = FirstTabStop(window);
    }
    if (target != nullptr)
        SetFocus(target);
}

bool CreateControls(HWND window, HINSTANCE instance) {
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    HWND previous = HWND_TOP;
    for (const ControlDescription& control : Controls) {
        const std::wstring text = WideFrom936(control.text);
        HWND child = CreateWindowExW(
            control.exStyle, control.className, text.c_str(), control.style, control.left,
            control.top, control.width, control.height, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
        if (child == nullptr)
            return false;
        SendMessageW(child, WM_SETFONT, font, FALSE);
        // The table's order is the stacking order, whatever order creation leaves.
        SetWindowPos(child, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = child;
    }
    HWND edit = GetDlgItem(window, Edit1Id);
    SendMessageW(edit, EM_LIMITTEXT, 0, 0);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    return true;
}

// Answers a reader on another thread. The request is the reader's heap copy of a shared
// pointer: a reader that has stopped waiting keeps nothing on its stack that this could reach.
void ServeIntervalRead(HWND window, LPARAM request) {
    std::unique_ptr<std::shared_ptr<TextValue>> answer(
        reinterpret_cast<std::shared_ptr<TextValue>*>(request));
    if (answer == nullptr || *answer == nullptr)
        return;
    **answer = TextFromWide(WindowTextOf(GetDlgItem(window, Edit1Id)));
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == Button1Id && HIWORD(wParam) == BN_CLICKED) {
                OnStartStopClicked();
                return 0;
            }
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item != nullptr && item->CtlType == ODT_STATIC) {
                DrawLabel(*item);
                return TRUE;
            }
            break;
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(window, focus))
                    FocusBeforeDeactivation = focus;
            }
            break;  // DefWindowProcW gives the window the focus, and WM_SETFOCUS passes it on
        case WM_SETFOCUS:
            PassFocusOn(window);
            return 0;
        case ReadIntervalMessage:
            ServeIntervalRead(window, lParam);
            return 1;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            LiveMainWindow.store(nullptr);
            FocusBeforeDeactivation = nullptr;
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HICON LoadAppIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(
        instance, MAKEINTRESOURCEW(IDI_TOCKMERE), IMAGE_ICON, GetSystemMetrics(widthMetric),
        GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR | LR_SHARED));
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadAppIcon(instance, SM_CXICON, SM_CYICON);
    windowClass.hIconSm = LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = WindowClassName;
    if (RegisterClassExW(&windowClass) != 0)
        return true;
    // A second window in the same process (the window tests) finds the class already there.
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

std::wstring WideFrom936(const TextValue& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const int sourceLength = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(936, 0, text.data(), sourceLength, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(936, 0, text.data(), sourceLength, wide.data(), length);
    return wide;
}

TextValue TextFromWide(const std::wstring& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const int sourceLength = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(936, 0, text.data(), sourceLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    TextValue bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(936, 0, text.data(), sourceLength, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

HWND CreateMainWindow(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterMainWindowClass(instance))
        return nullptr;

    // Centred on the primary screen's full size, not the work area.
    const int left = (GetSystemMetrics(SM_CXSCREEN) - WindowWidth) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - WindowHeight) / 2;
    HWND window = CreateWindowExW(0, WindowClassName, WindowCaption, WindowStyle, left, top,
                                  WindowWidth, WindowHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return nullptr;

    RECT outer{};
    GetWindowRect(window, &outer);
    if (outer.left != left || outer.top != top || outer.right - outer.left != WindowWidth ||
        outer.bottom - outer.top != WindowHeight) {
        SetWindowPos(window, nullptr, left, top, WindowWidth, WindowHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SendMessageW(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadAppIcon(instance, SM_CXICON, SM_CYICON)));
    SendMessageW(window, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON)));
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);

    if (!CreateControls(window, instance)) {
        DestroyWindow(window);
        return nullptr;
    }
    FocusBeforeDeactivation = nullptr;
    LiveMainWindow.store(window);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    // Activation normally passes the focus on already; this covers a window shown inactive.
    if (GetFocus() == nullptr || !IsChild(window, GetFocus()))
        PassFocusOn(window);
    return window;
}

bool PreTranslateMainWindowKey(HWND window, const MSG& message) {
    if (message.message != WM_KEYDOWN || window == nullptr)
        return false;
    if (message.hwnd != window && !IsChild(window, message.hwnd))
        return false;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool alt = GetKeyState(VK_MENU) < 0;
    switch (message.wParam) {
        case VK_ESCAPE:
            if (shift || control || alt)
                return false;
            SendMessageW(window, WM_CLOSE, 0, 0);
            return true;
        case VK_TAB:
            MoveFocusToNextTabStop(window, shift);
            return true;
        case VK_RETURN:
            // No default button; kept from the controls too, so the edit box does not beep.
            return true;
        default:
            return false;
    }
}

int RunMainWindowLoop(HWND window) {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (PreTranslateMainWindowKey(window, message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

void SetStartStopCaption(const TextValue& caption) {
    HWND window = LiveMainWindow.load();
    if (window == nullptr)
        return;
    HWND button = GetDlgItem(window, Button1Id);
    SetWindowTextW(button, WideFrom936(caption).c_str());
    UpdateWindow(button);
}

TextValue ReadIntervalText() {
    HWND window = LiveMainWindow.load();
    if (window == nullptr || !IsWindow(window))
        return {};
    auto answer = std::make_shared<TextValue>();
    // Owned by the GUI thread once it serves the request. If it never does (the window went
    // away meanwhile), this small copy is left behind rather than freed under a late answer.
    auto* request = new std::shared_ptr<TextValue>(answer);
    DWORD_PTR served = 0;
    const LRESULT sent =
        SendMessageTimeoutW(window, ReadIntervalMessage, 0, reinterpret_cast<LPARAM>(request),
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, ReadIntervalTimeoutMs, &served);
    if (sent == 0 || served == 0)
        return {};
    return *answer;
}
