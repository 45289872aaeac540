// MainWindow on Win32: the one window, its five controls, its keyboard rules and the message loop.
#pragma once

#include <string>

#include "platform/seam.h"
#include "sync/text_value.h"

// Control identifiers, as WM_COMMAND and GetDlgItem see them.
enum MainWindowControlId : int {
    Label3Id = 103,   // 标签3
    Label2Id = 102,   // 标签2
    Button1Id = 201,  // 按钮1
    Edit1Id = 301,    // 编辑框1
    Label1Id = 101,   // 标签1
};

// Builds MainWindow from its fixed description, shows it and puts the focus in 编辑框1.
// Gives the null handle when the window cannot be created.
HWND CreateMainWindow(HINSTANCE instance);

// The keyboard rules of MainWindow, applied to a message before it is dispatched: true when the
// message was handled here and must not reach the control.
bool PreTranslateMainWindowKey(HWND window, const MSG& message);

// Runs the GUI thread's message loop until the quit message; returns the exit code 0.
int RunMainWindowLoop(HWND window);

// Code page 936 bytes to UTF-16 and back, whatever the system's code page is.
std::wstring WideFrom936(const TextValue& text);
TextValue TextFromWide(const std::wstring& text);
