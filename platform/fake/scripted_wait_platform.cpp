// The scripted Sleep, GetTickCount and thread message queue: definitions that take the place of
// platform/posix's in a test program.
#include "platform/fake/scripted_wait_platform.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <utility>

namespace {

// A wait or pump that never ends would otherwise fill memory; stop the test program instead.
constexpr std::size_t kRunawayLimit = 1000000;

struct Fake {
    std::vector<WaitCall> calls;
    TickScriptState state;
    TickScript ticks;
    std::deque<MSG> queue;
    std::function<void(const MSG&)> on_dispatch;
    std::function<void(DWORD)> on_sleep;
};

Fake& State() {
    static Fake fake;
    return fake;
}

DWORD FollowSleeps(const TickScriptState& s) {
    return static_cast<DWORD>(s.slept_ms);
}

void Record(const WaitCall& call) {
    Fake& fake = State();
    if (fake.calls.size() >= kRunawayLimit) {
        std::fputs("scripted wait platform: runaway loop, over a million calls\n", stderr);
        std::abort();
    }
    fake.calls.push_back(call);
}

std::string MessageName(UINT message) {
    switch (message) {
        case WM_NULL:
            return "NULL";
        case WM_QUIT:
            return "QUIT";
        case WM_KEYDOWN:
            return "KEYDOWN";
        case WM_KEYUP:
            return "KEYUP";
        case WM_CHAR:
            return "CHAR";
        default:
            break;
    }
    if (message < WM_USER)
        return std::to_string(message);
    std::string name = "USER+";
    name += std::to_string(message - WM_USER);
    return name;
}

// Appends e.g. "(KEYDOWN:65)"; built by appending, which also keeps g++ 12's -O3 -Wrestrict quiet.
void AppendMessage(std::string& line, const WaitCall& call) {
    line += '(';
    line += MessageName(call.message);
    if (call.wParam != 0) {
        line += ':';
        line += std::to_string(call.wParam);
    }
    line += ')';
}

}  // namespace

void ResetScriptedWaitPlatform() {
    State() = Fake{};
}

const std::vector<WaitCall>& RecordedWaitCalls() {
    return State().calls;
}

std::string DescribeWaitCalls(const std::vector<WaitCall>& calls) {
    std::string line;
    for (const WaitCall& call : calls) {
        if (!line.empty())
            line += ' ';
        switch (call.kind) {
            case WaitCallKind::kSleep:
                line += 'S';
                line += std::to_string(call.amount);
                break;
            case WaitCallKind::kGetTickCount:
                line += "T";
                break;
            case WaitCallKind::kPeekMessage:
                line += 'P';
                if (call.found)
                    AppendMessage(line, call);
                else
                    line += '-';
                break;
            case WaitCallKind::kDispatchMessage:
                line += 'D';
                AppendMessage(line, call);
                break;
            case WaitCallKind::kTranslateMessage:
                line += 'X';
                AppendMessage(line, call);
                break;
        }
    }
    return line;
}

void SetTickScript(TickScript script) {
    State().ticks = std::move(script);
}

void PostScriptedMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    State().queue.push_back(msg);
}

std::size_t ScriptedQueueLength() {
    return State().queue.size();
}

void SetDispatchHook(std::function<void(const MSG&)> hook) {
    State().on_dispatch = std::move(hook);
}

void SetSleepHook(std::function<void(DWORD)> hook) {
    State().on_sleep = std::move(hook);
}

void Sleep(DWORD dwMilliseconds) {
    Fake& fake = State();
    Record({.kind = WaitCallKind::kSleep, .amount = dwMilliseconds});
    fake.state.sleeps += 1;
    fake.state.slept_ms += dwMilliseconds;
    if (fake.on_sleep)
        fake.on_sleep(dwMilliseconds);
}

DWORD GetTickCount() {
    Fake& fake = State();
    const DWORD reading = fake.ticks ? fake.ticks(fake.state) : FollowSleeps(fake.state);
    fake.state.readings += 1;
    Record({.kind = WaitCallKind::kGetTickCount, .amount = reading});
    return reading;
}

BOOL PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    Fake& fake = State();
    WaitCall call{.kind = WaitCallKind::kPeekMessage,
                  .window = hWnd,
                  .filter_first = wMsgFilterMin,
                  .filter_last = wMsgFilterMax,
                  .remove = wRemoveMsg};
    // The fake ignores the filter: it records what was asked and hands out the queue in order.
    if (!fake.queue.empty()) {
        *lpMsg = fake.queue.front();
        if ((wRemoveMsg & PM_REMOVE) != 0)
            fake.queue.pop_front();
        call.found = TRUE;
        call.message = lpMsg->message;
        call.wParam = lpMsg->wParam;
    }
    Record(call);
    return call.found;
}

LRESULT DispatchMessageA(const MSG* lpMsg) {
    Fake& fake = State();
    Record({.kind = WaitCallKind::kDispatchMessage,
            .message = lpMsg->message,
            .wParam = lpMsg->wParam});
    if (fake.on_dispatch)
        fake.on_dispatch(*lpMsg);
    return 0;
}

BOOL TranslateMessage(const MSG* lpMsg) {
    Record({.kind = WaitCallKind::kTranslateMessage,
            .message = lpMsg->message,
            .wParam = lpMsg->wParam});
    if (lpMsg->message == WM_KEYDOWN)
        PostScriptedMessage(WM_CHAR, lpMsg->wParam, lpMsg->lParam);
    return lpMsg->message == WM_KEYDOWN || lpMsg->message == WM_KEYUP;
}
