// The calling thread's last error code, as GetLastError and SetLastError keep it on Windows.
#include "platform/seam.h"

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD error) { last_error = error; }
