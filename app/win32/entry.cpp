// The program's entry on Windows: MainWindow and its message loop, then the end of the process.
#include "app/start_stop.h"
#include "app/win32/main_window.h"
#include "sync/http_get.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HWND window = CreateMainWindow(instance);
    // No window, no loop: the program ends at once with 0.
    if (window != nullptr)
        RunMainWindowLoop(window);
    EndSyncAtExit();
    CloseHttpSession();
    // ExitProcess ends whatever thread is left before any static of the program is torn down
    // under it.
    ExitProcess(0);
}
