// The scripted WinINet subset: replaces platform/posix/wininet.cpp in a test program, so the
// fetch's call sequence and its failure paths can be checked without a network.
#include "platform/fake/scripted_wininet.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::mutex guard;
WinInetScript script;
std::vector<std::string> calls;
std::map<HINTERNET, std::string> open_handles;
std::map<std::string, int> counters;
std::size_t next_read = 0;
bool hook_done = false;
std::uintptr_t next_value = 0x5000;

std::string Text(LPCSTR text) {
    return text == nullptr ? "null" : text;
}

std::string Quoted(const char* text, std::size_t length) {
    std::string out = "\"";
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\r') {
            out += "\\r";
        } else if (text[i] == '\n') {
            out += "\\n";
        } else {
            out += text[i];
        }
    }
    return out + "\"";
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

// Called under the guard.
std::string NameOf(HINTERNET handle) {
    if (handle == nullptr)
        return "null";
    const auto found = open_handles.find(handle);
    return found != open_handles.end() ? found->second : "closed-handle";
}

HINTERNET NewHandle(const std::string& kind) {
    const HINTERNET handle = reinterpret_cast<HINTERNET>(next_value);
    next_value += 0x10;
    open_handles[handle] = kind + std::to_string(++counters[kind]);
    return handle;
}

void Record(const std::string& call) {
    calls.push_back(call);
}

// Runs the hook outside the guard, once, when `name` is the call it waits for.
void RunHook(const char* name) {
    std::function<void()> hook;
    {
        std::lock_guard lock(guard);
        if (hook_done || script.hook_call != name || !script.hook)
            return;
        hook_done = true;
        hook = script.hook;
    }
    hook();
}

bool IsOpen(HINTERNET handle) {
    return open_handles.count(handle) != 0;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Hands out one part of a URL as InternetCrackUrlA does: into the caller's buffer, or as a
// pointer into the URL itself.
void Give(const char* url, std::size_t at, std::size_t length, LPSTR& text, DWORD& size) {
    if (text == nullptr && size == 0)
        return;
    if (text != nullptr) {
        const std::size_t n = length < size ? length : size - 1;
        std::memcpy(text, url + at, n);
        text[n] = '\0';
        size = static_cast<DWORD>(n);
        return;
    }
    text = const_cast<LPSTR>(url + at);
    size = static_cast<DWORD>(length);
}

}  // namespace

void ScriptWinInet(WinInetScript next) {
    std::lock_guard lock(guard);
    script = std::move(next);
    calls.clear();
    open_handles.clear();
    counters.clear();
    next_read = 0;
    hook_done = false;
}

std::vector<std::string> RecordedWinInetCalls() {
    std::lock_guard lock(guard);
    return calls;
}

BOOL InternetCanonicalizeUrlA(LPCSTR lpszUrl, LPSTR lpszBuffer, LPDWORD lpdwBufferLength,
                              DWORD dwFlags) {
    std::lock_guard lock(guard);
    Record("InternetCanonicalizeUrlA(" + Text(lpszUrl) + ", " + std::to_string(*lpdwBufferLength) +
           ", " + Hex(dwFlags) + ")");
    if (script.canonicalize_fails)
        return Fail(ERROR_INTERNET_INVALID_URL);
    const DWORD needed = static_cast<DWORD>(std::strlen(lpszUrl) + 1);
    const DWORD asked = script.canonical_size_asked > needed ? script.canonical_size_asked : needed;
    if (*lpdwBufferLength < asked) {
        *lpdwBufferLength = asked;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszBuffer, lpszUrl, needed);
    *lpdwBufferLength = needed - 1;
    return TRUE;
}

BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSA* lpUrlComponents) {
    std::lock_guard lock(guard);
    Record("InternetCrackUrlA(" + Text(lpszUrl) + ", " + std::to_string(dwUrlLength) + ", " +
           std::to_string(dwFlags) + ")");
    const std::string url = lpszUrl;
    const std::size_t scheme_end = url.find("://");
    if (script.crack_fails || scheme_end == std::string::npos)
        return Fail(ERROR_INTERNET_INVALID_URL);
    URL_COMPONENTSA& c = *lpUrlComponents;
    const std::size_t authority = scheme_end + 3;
    std::size_t path = url.find('/', authority);
    if (path == std::string::npos)
        path = url.size();
    std::size_t host = authority;
    const std::size_t at = url.find('@', authority);
    std::size_t user_end = authority, password = authority, password_end = authority;
    if (at != std::string::npos && at < path) {
        host = at + 1;
        const std::size_t colon = url.find(':', authority);
        user_end = colon != std::string::npos && colon < at ? colon : at;
        password = user_end < at ? user_end + 1 : at;
        password_end = at;
    }
    const std::size_t port = url.find(':', host);
    const std::size_t host_end = port != std::string::npos && port < path ? port : path;
    c.nScheme =
        url.compare(0, scheme_end, "http") == 0 ? INTERNET_SCHEME_HTTP : INTERNET_SCHEME_UNKNOWN;
    c.nPort = host_end < path ? static_cast<INTERNET_PORT>(std::stoi(url.substr(host_end + 1)))
                              : INTERNET_DEFAULT_HTTP_PORT;
    Give(lpszUrl, 0, scheme_end, c.lpszScheme, c.dwSchemeLength);
    Give(lpszUrl, authority, user_end - authority, c.lpszUserName, c.dwUserNameLength);
    Give(lpszUrl, password, password_end - password, c.lpszPassword, c.dwPasswordLength);
    Give(lpszUrl, host, host_end - host, c.lpszHostName, c.dwHostNameLength);
    Give(lpszUrl, path, url.size() - path, c.lpszUrlPath, c.dwUrlPathLength);
    return TRUE;
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags) {
    std::lock_guard lock(guard);
    std::string call = "InternetOpenA(" + Text(lpszAgent) + ", " + std::to_string(dwAccessType) +
                       ", " + Text(lpszProxy) + ", " + Text(lpszProxyBypass) + ", " +
                       std::to_string(dwFlags) + ")";
    if (script.open_failures > 0) {
        --script.open_failures;
        Record(call + " = null");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const HINTERNET handle = NewHandle("session");
    Record(call + " = " + NameOf(handle));
    return handle;
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext) {
    std::unique_lock lock(guard);
    std::string call = "InternetConnectA(" + NameOf(hInternet) + ", " + Text(lpszServerName) +
                       ", " + std::to_string(nServerPort) + ", \"" + Text(lpszUserName) + "\", \"" +
                       Text(lpszPassword) + "\", " + std::to_string(dwService) + ", " +
                       std::to_string(dwFlags) + ", " + std::to_string(dwContext) + ")";
    if (script.connect_fails || !IsOpen(hInternet)) {
        Record(call + " = null");
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return nullptr;
    }
    const HINTERNET handle = NewHandle("connection");
    Record(call + " = " + NameOf(handle));
    lock.unlock();
    RunHook("InternetConnectA");
    return handle;
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength) {
    std::lock_guard lock(guard);
    std::string value;
    if (dwOption == INTERNET_OPTION_PROXY && lpBuffer != nullptr) {
        const auto& info = *static_cast<const INTERNET_PROXY_INFO*>(lpBuffer);
        // Appended piece by piece: g++ 12 at -O3 misreads a chain of temporaries as overlaps.
        value.append("{").append(std::to_string(info.dwAccessType)).append(", ");
        value.append(Text(info.lpszProxy)).append(", ").append(Text(info.lpszProxyBypass));
        value.append("}");
    } else if (lpBuffer != nullptr) {
        value = Quoted(static_cast<const char*>(lpBuffer),
                       strnlen(static_cast<const char*>(lpBuffer), dwBufferLength));
    } else {
        value = "null";
    }
    Record("InternetSetOptionA(" + NameOf(hInternet) + ", " + std::to_string(dwOption) + ", " +
           value + ", " + std::to_string(dwBufferLength) + ")");
    return IsOpen(hInternet) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext) {
    std::lock_guard lock(guard);
    std::string call = "HttpOpenRequestA(" + NameOf(hConnect) + ", " + Text(lpszVerb) + ", " +
                       Text(lpszObjectName) + ", " + Text(lpszVersion) + ", " + Text(lpszReferrer) +
                       ", " + (lplpszAcceptTypes ? "types" : "null") + ", " + Hex(dwFlags) + ", " +
                       std::to_string(dwContext) + ")";
    if (script.open_request_fails || !IsOpen(hConnect)) {
        Record(call + " = null");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const HINTERNET handle = NewHandle("request");
    Record(call + " = " + NameOf(handle));
    return handle;
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    {
        std::lock_guard lock(guard);
        Record("HttpSendRequestA(" + NameOf(hRequest) + ", " +
               (lpszHeaders ? Quoted(lpszHeaders, dwHeadersLength) : "null") + ", " +
               std::to_string(dwHeadersLength) + ", " + (lpOptional ? "body" : "null") + ", " +
               std::to_string(dwOptionalLength) + ")");
        if (!IsOpen(hRequest))
            return Fail(ERROR_INVALID_HANDLE);
    }
    RunHook("HttpSendRequestA");
    std::lock_guard lock(guard);
    // A handle closed while the call was under way ends it, as on the platform.
    if (!IsOpen(hRequest))
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    return script.send_fails ? Fail(ERROR_INTERNET_CANNOT_CONNECT) : TRUE;
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    std::lock_guard lock(guard);
    Record("HttpQueryInfoA(" + NameOf(hRequest) + ", " + std::to_string(dwInfoLevel) + ", " +
           std::to_string(*lpdwBufferLength) + (lpdwIndex ? ", index" : "") + ")");
    if (!IsOpen(hRequest))
        return Fail(ERROR_INVALID_HANDLE);
    if (!script.content_length)
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    const std::string& value = *script.content_length;
    if (*lpdwBufferLength < value.size() + 1) {
        *lpdwBufferLength = static_cast<DWORD>(value.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpBuffer, value.c_str(), value.size() + 1);
    *lpdwBufferLength = static_cast<DWORD>(value.size());
    return TRUE;
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
    {
        std::lock_guard lock(guard);
        Record("InternetReadFile(" + NameOf(hFile) + ", " + std::to_string(dwNumberOfBytesToRead) +
               ")");
    }
    RunHook("InternetReadFile");
    std::lock_guard lock(guard);
    *lpdwNumberOfBytesRead = 0;
    if (!IsOpen(hFile))
        return Fail(ERROR_INVALID_HANDLE);
    if (next_read >= script.reads.size())
        return TRUE;  // the end of the body
    const ScriptedRead& read = script.reads[next_read++];
    if (!read.ok)
        return Fail(ERROR_INTERNET_CONNECTION_RESET);
    const std::size_t n =
        read.bytes.size() < dwNumberOfBytesToRead ? read.bytes.size() : dwNumberOfBytesToRead;
    std::memcpy(lpBuffer, read.bytes.data(), n);
    *lpdwNumberOfBytesRead = static_cast<DWORD>(n);
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    std::lock_guard lock(guard);
    Record("InternetCloseHandle(" + NameOf(hInternet) + ")");
    return open_handles.erase(hInternet) != 0 ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
