// The event pump: drains the calling thread's message queue without waiting for more.
#pragma once

// Removes every message waiting in the calling thread's queue and hands each to the platform,
// dispatched first and translated after; returns as soon as the queue is empty. Messages that
// arrive meanwhile (a dispatch's posts, a translation's characters) are handled in the same call.
// No message is special: WM_QUIT is dispatched and translated like any other.
void PumpPendingMessages();
