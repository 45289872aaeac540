// The one door between the portable core and the operating system: the real Win32 and WinINet
// headers on Windows, our own declarations of the same names everywhere else.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <wininet.h>
// commdlg.h maps FindText to FindTextA; the core has a FindText of its own.
#undef FindText
#else
#include "platform/posix/win32_names.h"
#endif
