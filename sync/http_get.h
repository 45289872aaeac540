// The fetch of one resource by an HTTP GET, through the one WinINet session of the process.
#pragma once

#include <mutex>

#include "sync/text_value.h"

// Lets another thread end a fetch at once. Owned by the caller of HttpGetBody, outlives the fetch;
// once cancelled it stays cancelled, so every later fetch given it ends before sending.
struct FetchCancel {
    std::mutex guard;  // held only for a few instructions, never across a platform call
    bool cancelled = false;
    void* request = nullptr;  // the request handle while the fetch owns one; CancelFetch takes it
};

// The body of the answer to a GET of `url`, whatever the status; empty when nothing could be read,
// the bytes that arrived when reading broke off. Never throws.
ByteBuffer HttpGetBody(const TextValue& url);
ByteBuffer HttpGetBody(const TextValue& url, FetchCancel* cancel);

// From any thread: the fetch running with `cancel` sends nothing more, its blocking call ends, and
// it returns what it has read. Returns without waiting for the fetch.
void CancelFetch(FetchCancel& cancel);

// Closes the process's session, at the program's end. A later fetch would open a new one.
void CloseHttpSession();
