#include "tests/support/test_process.h"

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

bool RunsUnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void UnsetProxyVariables() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
#if defined(_WIN32)
        SetEnvironmentVariableA(name, nullptr);
        std::string assignment(name);
        assignment += '=';
        _putenv(assignment.c_str());
#else
        unsetenv(name);
#endif
    }
}
