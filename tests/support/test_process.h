// Facts about the test program's own process that several test programs ask.
#pragma once

// Whether this is a Windows program running under Wine. Wine's WinINet does not end a blocking
// call when another thread closes its handle, nor give up on a silent server: a cancelled fetch
// there waits on until the server answers or closes the connection.
bool RunsUnderWine();

// A figure of /proc/self/status in kB, such as "VmRSS" or "VmHWM"; -1 where it cannot be read.
long ProcessStatusKilobytes(const char* field);

// Removes the proxy variables from the environment, so that a loopback server is reached
// directly whatever proxy the calling shell names.
void UnsetProxyVariables();
