// The thread message queue for Linux: one queue per thread, made on first use, freed at its end.
// There are no windows in this layer, so every message is a thread message (hwnd null).
#include <unistd.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/seam.h"

namespace {

// Windows' limit on the messages posted to one queue and not yet removed: a thread that stops
// draining its queue makes posts fail instead of growing without bound.
constexpr std::size_t kPostedMessageLimit = 10000;

// Virtual-key codes of the keys that TranslateMessage turns into characters.
constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_NUMPAD0 = 0x60;
constexpr WPARAM VK_NUMPAD9 = 0x69;

struct PostedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

using Queue = std::deque<PostedMessage>;

// Every live queue, by thread id, under one lock: posts come from any thread.
struct QueueTable {
    std::mutex guard;
    std::unordered_map<DWORD, Queue> queues;
};

QueueTable& Table() {
    // Never destroyed: threads may still end, and drop their queues, after static destructors.
    static QueueTable* table = new QueueTable;
    return *table;
}

// The calling thread's entry in the table: added on first use, removed when the thread ends
// (thread_local destructors run before its id can be given to another thread).
struct OwnQueueEntry {
    DWORD id = GetCurrentThreadId();
    OwnQueueEntry() {
        std::lock_guard lock(Table().guard);
        Table().queues.insert_or_assign(id, Queue{});
    }
    ~OwnQueueEntry() {
        std::lock_guard lock(Table().guard);
        Table().queues.erase(id);
    }
    OwnQueueEntry(const OwnQueueEntry&) = delete;
    OwnQueueEntry& operator=(const OwnQueueEntry&) = delete;
};

// The calling thread's id, its queue made if it has none yet.
DWORD OwnQueueId() {
    thread_local OwnQueueEntry entry;
    return entry.id;
}

bool InRange(UINT message, UINT first, UINT last) {
    return (first == 0 && last == 0) || (first <= message && message <= last);
}

// Appends to a thread's queue; the table's lock is held by the caller.
BOOL Append(QueueTable& table, DWORD thread, const PostedMessage& message) {
    const auto found = table.queues.find(thread);
    if (found == table.queues.end()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    if (found->second.size() >= kPostedMessageLimit) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    found->second.push_back(message);
    return TRUE;
}

// The character a key gives with no modifier held (this layer knows no shift state): letters in
// lower case, digits from the main row and the number pad, space, tab, return, backspace and
// escape. Other keys (arrows, function keys, modifiers) give none.
bool CharacterForKey(WPARAM key, WPARAM* character) {
    if (key >= 'A' && key <= 'Z') {
        *character = key - 'A' + 'a';
    } else if (key >= '0' && key <= '9') {
        *character = key;
    } else if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) {
        *character = key - VK_NUMPAD0 + '0';
    } else if (key == VK_SPACE || key == VK_TAB || key == VK_RETURN || key == VK_BACK ||
               key == VK_ESCAPE) {
        *character = key;
    } else {
        return false;
    }
    return true;
}

}  // namespace

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(gettid());
}

BOOL PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    const DWORD self = OwnQueueId();
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hWnd != nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    QueueTable& table = Table();
    std::lock_guard lock(table.guard);
    const auto own = table.queues.find(self);
    if (own == table.queues.end())
        return FALSE;  // only while the thread's own exit runs
    Queue& queue = own->second;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!InRange(it->message, wMsgFilterMin, wMsgFilterMax))
            continue;
        *lpMsg = MSG{it->hwnd, it->message, it->wParam, it->lParam, it->time, POINT{0, 0}};
        if ((wRemoveMsg & PM_REMOVE) != 0)
            queue.erase(it);
        return TRUE;
    }
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* lpMsg) {
    OwnQueueId();
    // A thread message has no window procedure to go to; nothing else can be dispatched here.
    if (lpMsg != nullptr && lpMsg->hwnd != nullptr)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL TranslateMessage(const MSG* lpMsg) {
    const DWORD self = OwnQueueId();
    if (lpMsg == nullptr)
        return FALSE;
    if (lpMsg->message == WM_KEYUP)
        return TRUE;
    if (lpMsg->message != WM_KEYDOWN)
        return FALSE;
    WPARAM character = 0;
    if (CharacterForKey(lpMsg->wParam, &character)) {
        QueueTable& table = Table();
        std::lock_guard lock(table.guard);
        // Same window and key data as the key message, as the platform does.
        Append(table, self, {lpMsg->hwnd, WM_CHAR, character, lpMsg->lParam, GetTickCount()});
    }
    // Nonzero for every key message, whether or not it gave a character.
    return TRUE;
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    const DWORD now = GetTickCount();
    QueueTable& table = Table();
    std::lock_guard lock(table.guard);
    return Append(table, idThread, {nullptr, Msg, wParam, lParam, now});
}
