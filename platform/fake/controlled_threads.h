// A stand-in for the thread functions that a test can make fail, or hold before a thread runs.
#pragma once

#include "platform/seam.h"

// While set, CreateThread makes no thread: it fails with ERROR_NOT_ENOUGH_MEMORY and a null handle.
void SetThreadCreationFails(bool fail);

// While set, a new thread waits at its very start, before its routine runs; clearing it lets every
// waiting thread go.
void HoldNewThreadsAtStart(bool hold);

// How often CreateThread has been called, failed calls included.
int ThreadCreationCalls();
