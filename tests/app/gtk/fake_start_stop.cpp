// A stand-in for the start/stop control in the window's test program: toggles the caption as the
// real control does and, on every start, reads 编辑框1 once from a thread of its own.
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/start_stop.h"
#include "sync/main_window_link.h"

namespace {

// 启动
constexpr char kStartCaption[] = "\xC6\xF4\xB6\xAF";
// 停止
constexpr char kStopCaption[] = "\xCD\xA3\xD6\xB9";

bool started = false;

// Appends the text read, as code page 936 bytes and one line per start, to the file the test
// names; the product itself reads no environment.
void RecordIntervalText() {
    TextValue text = ReadIntervalText();
    const char* path = std::getenv("TOCKMERE_TEST_INTERVAL_FILE");
    if (path == nullptr)
        return;
    std::ofstream record(path, std::ios::binary | std::ios::app);
    record << text << '\n';
}

}  // namespace

void OnStartStopClicked() {
    if (!started) {
        SetStartStopCaption(kStopCaption);
        std::thread(RecordIntervalText).detach();
        started = true;
    } else {
        SetStartStopCaption(kStartCaption);
        started = false;
    }
}

// The stand-in's one read ends by itself; there is nothing to stop at the end.
void EndSyncAtExit() {}
