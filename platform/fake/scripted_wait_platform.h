// A scripted stand-in for Sleep, GetTickCount and the thread message queue, for Linux test
// programs: it records every call in order, never sleeps, reads the tick counter from a script,
// and keeps a queue that the test fills. For use from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/seam.h"

enum class WaitCallKind {
    kSleep,
    kGetTickCount,
    kPeekMessage,
    kDispatchMessage,
    kTranslateMessage
};

struct WaitCall {
    WaitCallKind kind;
    DWORD amount = 0;    // Sleep: the count asked for; GetTickCount: the reading given
    UINT message = 0;    // the queue calls: the message handled; PeekMessageA: the one removed
    WPARAM wParam = 0;   // and its first parameter
    BOOL found = FALSE;  // PeekMessageA: whether a message was removed
    // PeekMessageA's arguments.
    HWND window = nullptr;
    UINT filter_first = 0;
    UINT filter_last = 0;
    UINT remove = 0;
};

// What a tick script may look at when the counter is read.
struct TickScriptState {
    int sleeps = 0;              // Sleep calls so far
    std::uint64_t slept_ms = 0;  // the sum of their counts
    int readings = 0;            // GetTickCount calls before this one
};
using TickScript = std::function<DWORD(const TickScriptState&)>;

// Back to the start: no calls, an empty queue, no hooks, and a counter that shows exactly the
// milliseconds slept so far.
void ResetScriptedWaitPlatform();

// Every call since the last reset, oldest first.
const std::vector<WaitCall>& RecordedWaitCalls();

// A compact line for a record, e.g. "T S15 P- T" or "P(KEYDOWN:65) D(KEYDOWN:65) X(KEYDOWN:65)":
// T a counter reading, Sn a sleep, P a peek (P- finding nothing), D a dispatch, X a translation.
std::string DescribeWaitCalls(const std::vector<WaitCall>& calls);

void SetTickScript(TickScript script);

// Appends a thread message (hwnd null) to the fake queue; usable from inside the hooks.
void PostScriptedMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::size_t ScriptedQueueLength();

// Called by DispatchMessageA with the message, after recording it.
void SetDispatchHook(std::function<void(const MSG&)> hook);
// Called by Sleep with its count, after recording it.
void SetSleepHook(std::function<void(DWORD)> hook);

// TranslateMessage posts, for a WM_KEYDOWN, one WM_CHAR with the same wParam and lParam, and
// returns nonzero for WM_KEYDOWN and WM_KEYUP.
