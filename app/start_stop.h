// The start/stop control behind 按钮1: owns the synchronisation thread.
#pragma once

#include "platform/seam.h"
#include "sync/text_value.h"

// Called on the GUI thread for every click of 按钮1 (mouse, or Space while it has the focus).
void OnStartStopClicked();

// Provided by the window: sets the caption of 按钮1 (code page 936), on the GUI thread only.
void SetStartStopCaption(const TextValue& caption);
