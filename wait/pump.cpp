// The event pump: peek with removal, dispatch, then translate, until the queue is empty.
#include "wait/pump.h"

#include "platform/seam.h"

void PumpPendingMessages() {
    // The platform's own MSG, zeroed; on x64 it is wider than seven 32-bit words, and only the
    // platform reads or writes it.
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
        // Dispatch before translating: a character made from a key message queues up behind
        // whatever the dispatch posted, and a later turn of this loop handles it.
        DispatchMessageA(&msg);
        TranslateMessage(&msg);
    }
}
