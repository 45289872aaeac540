// Drives and reads the running program's window from outside, through Win32 only (no pixels):
// used by the window tests to see the controls, click 按钮1 and type on the keyboard.
//
//   window_driver find <ms>        waits for the window captioned "Tockmere"
//   window_driver dump             the window and its controls as one JSON object
//   window_driver caption          按钮1's caption as a JSON string
//   window_driver click            a real left click on the middle of 按钮1 (SendInput)
//   window_driver keys <key>...    esc shift+esc ctrl+esc enter tab shift+tab space text:<ascii>
//   window_driver wait-gone <ms>   waits until the window is gone
// Exit code 0 on success, 1 when the window is missing or a wait ran out, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD FindTimeoutMs = 10000;

HWND FindMainWindow(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowW(nullptr, L"Tockmere");
        if (window != nullptr)
            return window;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Json(const RECT& r) {
    char text[64];
    std::snprintf(text, sizeof(text), "[%ld,%ld,%ld,%ld]", static_cast<long>(r.left),
                  static_cast<long>(r.top), static_cast<long>(r.right),
                  static_cast<long>(r.bottom));
    return text;
}

std::string Json(long value) {
    return std::to_string(value);
}

std::string Json(bool value) {
    return value ? "true" : "false";
}

// The text through WM_GETTEXT, which the system carries across processes.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        return L"<no answer>";
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND FindChildOfClass(HWND window, const wchar_t* className) {
    for (HWND child : Children(window)) {
        if (lstrcmpiW(ClassOf(child).c_str(), className) == 0)
            return child;
    }
    return nullptr;
}

int Dump(HWND window) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui);
    RECT outer{};
    GetWindowRect(window, &outer);
    RECT client{};
    GetClientRect(window, &client);

    std::string out = "{\"window\":{";
    out += "\"caption\":" + Json(TextOf(window));
    out += ",\"rect\":" + Json(outer);
    out += ",\"client\":" + Json(client);
    out += ",\"style\":" + Json(static_cast<long>(GetWindowLongW(window, GWL_STYLE)));
    out += ",\"exstyle\":" + Json(static_cast<long>(GetWindowLongW(window, GWL_EXSTYLE)));
    out += ",\"owner\":" + Json(GetWindow(window, GW_OWNER) != nullptr);
    out += ",\"screen\":" +
           Json(RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    out += ",\"active\":" + Json(gui.hwndActive == window);
    out += ",\"foreground\":" + Json(GetForegroundWindow() == window);
    out += "},\"controls\":[";
    bool first = true;
    int z = 0;
    for (HWND child : Children(window)) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        if (!first)
            out += ",";
        first = false;
        out += "{\"z\":" + Json(static_cast<long>(z++));
        out += ",\"class\":" + Json(ClassOf(child));
        out += ",\"text\":" + Json(TextOf(child));
        out += ",\"rect\":" + Json(r);
        out += ",\"style\":" + Json(static_cast<long>(GetWindowLongW(child, GWL_STYLE)));
        out += ",\"exstyle\":" + Json(static_cast<long>(GetWindowLongW(child, GWL_EXSTYLE)));
        out += ",\"visible\":" + Json(IsWindowVisible(child) != FALSE);
        out += ",\"enabled\":" + Json(IsWindowEnabled(child) != FALSE);
        out += ",\"focus\":" + Json(gui.hwndFocus == child);
        if (lstrcmpiW(ClassOf(child).c_str(), L"Edit") == 0) {
            DWORD_PTR selection = 0;
            SendMessageTimeoutW(child, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
            out += ",\"selection\":" + Json(RECT{LOWORD(selection), HIWORD(selection), 0, 0});
        }
        out += "}";
    }
    out += "]}";
    std::puts(out.c_str());
    return 0;
}

int Click(HWND window) {
    HWND button = FindChildOfClass(window, L"Button");
    if (button == nullptr)
        return 1;
    RECT r{};
    GetWindowRect(button, &r);
    // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const LONG x = ((r.left + r.right) / 2 * 65536 + width / 2) / width;
    const LONG y = ((r.top + r.bottom) / 2 * 65536 + height / 2) / height;
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = x;
        input.mi.dy = y;
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    for (INPUT& input : inputs) {
        SendInput(1, &input, sizeof(INPUT));
        Sleep(60);
    }
    return 0;
}

void AddKey(std::vector<INPUT>& inputs, WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
}

// One key with its modifiers held around it.
void AddStroke(std::vector<INPUT>& inputs, WORD key, bool shift, bool control) {
    if (shift)
        AddKey(inputs, VK_SHIFT, false);
    if (control)
        AddKey(inputs, VK_CONTROL, false);
    AddKey(inputs, key, false);
    AddKey(inputs, key, true);
    if (control)
        AddKey(inputs, VK_CONTROL, true);
    if (shift)
        AddKey(inputs, VK_SHIFT, true);
}

bool StrokesFor(const std::string& token, std::vector<INPUT>& inputs) {
    struct Named {
        const char* name;
        WORD key;
        bool shift;
        bool control;
    };
    static const Named named[] = {
        {"esc", VK_ESCAPE, false, false},     {"shift+esc", VK_ESCAPE, true, false},
        {"ctrl+esc", VK_ESCAPE, false, true}, {"enter", VK_RETURN, false, false},
        {"tab", VK_TAB, false, false},        {"shift+tab", VK_TAB, true, false},
        {"space", VK_SPACE, false, false},
    };
    for (const Named& n : named) {
        if (token == n.name) {
            AddStroke(inputs, n.key, n.shift, n.control);
            return true;
        }
    }
    if (token.rfind("text:", 0) != 0)
        return false;
    for (char c : token.substr(5)) {
        const SHORT scan = VkKeyScanW(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        if (scan == -1)
            return false;
        AddStroke(inputs, static_cast<WORD>(scan & 0xFF), (scan & 0x100) != 0, false);
    }
    return true;
}

int Keys(int count, char** tokens) {
    for (int i = 0; i < count; ++i) {
        std::vector<INPUT> inputs;
        if (!StrokesFor(tokens[i], inputs)) {
            std::fprintf(stderr, "unknown key %s\n", tokens[i]);
            return 2;
        }
        for (INPUT& input : inputs) {
            SendInput(1, &input, sizeof(INPUT));
            Sleep(30);
        }
        Sleep(150);
    }
    return 0;
}

int WaitGone(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (FindWindowW(nullptr, L"Tockmere") != nullptr) {
        if (GetTickCount() - start >= timeoutMs)
            return 1;
        Sleep(50);
    }
    return 0;
}

DWORD Milliseconds(int argc, char** argv, DWORD fallback) {
    return argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::string command = argv[1];
    if (command == "wait-gone")
        return WaitGone(Milliseconds(argc, argv, FindTimeoutMs));
    HWND window =
        FindMainWindow(command == "find" ? Milliseconds(argc, argv, FindTimeoutMs) : FindTimeoutMs);
    if (window == nullptr) {
        std::fprintf(stderr, "no window captioned Tockmere\n");
        return 1;
    }
    if (command == "find")
        return 0;
    if (command == "dump")
        return Dump(window);
    if (command == "caption") {
        HWND button = FindChildOfClass(window, L"Button");
        if (button == nullptr)
            return 1;
        std::puts(Json(TextOf(button)).c_str());
        return 0;
    }
    if (command == "click")
        return Click(window);
    if (command == "keys")
        return Keys(argc - 2, argv + 2);
    return 2;
}
