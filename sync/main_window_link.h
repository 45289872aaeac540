// What the synchronisation loop needs from MainWindow, provided by each front end.
#pragma once

#include "sync/text_value.h"

// The current text of 编辑框1 as code page 936 bytes. Callable from any thread: the GUI thread
// serves it; once the window is gone it returns the empty text at once, never blocking.
TextValue ReadIntervalText();
