// A stand-in for SetLocalTime that records every request and never touches the machine's clock.
#pragma once

#include <vector>

#include "platform/seam.h"

// Every request made so far, oldest first.
std::vector<SYSTEMTIME> RecordedClockRequests();
void ClearRecordedClockRequests();
// What the stand-in answers from now on (TRUE at start).
void SetRecordedClockResult(BOOL result);
