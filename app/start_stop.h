// The start/stop control behind 按钮1: owns the synchronisation thread.
#pragma once

#include "platform/seam.h"
#include "sync/text_value.h"

// The running synchronisation thread, or null while synchronisation is off. GUI thread only.
extern HANDLE WorkerThreadHandle;

// Called on the GUI thread for every click of 按钮1 (mouse, or Space while it has the focus).
void OnStartStopClicked();

// Ends the synchronisation thread `handle` at once, without waiting for it to be gone.
void StopWorker(HANDLE handle);

// The synchronisation thread's start routine.
DWORD WINAPI SyncWorkerEntry(LPVOID parameter);

// At the program's end: stops a running synchronisation and gives it a bounded moment to be
// gone, so no clock call can race the process's exit. The caption is not touched.
void EndSyncAtExit();

// Provided by the window: sets the caption of 按钮1 (code page 936), on the GUI thread only.
void SetStartStopCaption(const TextValue& caption);
