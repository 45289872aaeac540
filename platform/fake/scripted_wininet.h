// A scripted stand-in for the WinINet subset: answers as a test sets it up, records every call.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam.h"

// One answer of InternetReadFile: these bytes (at most the size asked), or a failed read.
struct ScriptedRead {
    bool ok = true;
    std::string bytes;
};

struct WinInetScript {
    DWORD canonical_size_asked = 0;  // above 0: a smaller buffer is refused, asking for this size
    bool canonicalize_fails = false;
    bool crack_fails = false;
    int open_failures = 0;  // InternetOpenA calls that fail before one succeeds
    bool connect_fails = false;
    bool open_request_fails = false;
    bool send_fails = false;
    std::optional<std::string> content_length;  // none: the answer has no such header
    std::vector<ScriptedRead> reads;            // after them, the end of the body
    // Runs inside the first call of that name, before it answers (e.g. a stop from the GUI).
    std::string hook_call;
    std::function<void()> hook;
};

// Replaces the script, forgets the recorded calls and numbers handles from 1 again.
void ScriptWinInet(WinInetScript script);

// Every call since the last ScriptWinInet, oldest first, e.g.
// "HttpOpenRequestA(connection1, GET, /time15.asp, HTTP/1.0, null, null, 0x84000000, 0) =
// request1".
std::vector<std::string> RecordedWinInetCalls();
