#include "tests/support/test_process.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
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

long ProcessStatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::size_t length = std::strlen(field);
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
    }
    return -1;
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
