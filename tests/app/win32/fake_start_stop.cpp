// A stand-in for the start/stop control in the window tests: it sets 按钮1's captions as the real
// control does and, on each start, reads 编辑框1 once from a thread of its own and records it.
#include <cstdio>
#include <string>

#include "app/start_stop.h"
#include "sync/main_window_link.h"

namespace {

HANDLE ReaderThread = nullptr;

// Appends the text read, as hex of its code page 936 bytes, one line per start, to the file that
// the test names in TOCKMERE_TEST_INTERVAL_FILE; nothing is recorded without it.
DWORD WINAPI RecordIntervalRead(LPVOID) {
    const TextValue text = ReadIntervalText();
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("TOCKMERE_TEST_INTERVAL_FILE", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    std::string line;
    for (unsigned char byte : text) {
        char hex[3];
        std::snprintf(hex, sizeof(hex), "%02x", byte);
        line += hex;
    }
    line += '\n';
    if (std::FILE* file = std::fopen(path, "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
    return 0;
}

}  // namespace

void OnStartStopClicked() {
    if (ReaderThread == nullptr) {
        SetStartStopCaption("\xCD\xA3\xD6\xB9");  // "停止"
        ReaderThread = CreateThread(nullptr, 0, RecordIntervalRead, nullptr, 0, nullptr);
        return;
    }
    // The reader ends by itself once it has recorded; only its handle is let go here.
    CloseHandle(ReaderThread);
    ReaderThread = nullptr;
    SetStartStopCaption("\xC6\xF4\xB6\xAF");  // "启动"
}

void EndSyncAtExit() {
    // A read still in flight is given a moment to be recorded.
    if (ReaderThread != nullptr)
        WaitForSingleObject(ReaderThread, 2000);
}
