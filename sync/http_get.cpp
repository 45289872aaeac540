// HttpGetBody: one GET through WinINet; every failure ends as an empty or a shortened buffer.
#include "sync/http_get.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace {

constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr char kMethod[] = "GET";
constexpr char kVersion[] = "HTTP/1.0";
constexpr char kAcceptHeader[] = "Accept: */*\r\n\r\n";
constexpr DWORD kAcceptHeaderLength = sizeof(kAcceptHeader) - 1;  // 15
// The answer must come from the origin server, and no cache may keep it.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD kCanonicalBufferSize = 2084;
constexpr DWORD kDefaultChunkSize = 10240;
constexpr DWORD kLargestChunkSize = 102400;
constexpr DWORD kLengthAnswerSize = 32;

// The one session of the process. The guard only makes the check-and-open atomic: a fetch that a
// stop left winding down may meet the next thread's first fetch here.
std::mutex session_guard;
HINTERNET HttpSession = nullptr;

HINTERNET EnsureHttpSession() {
    std::lock_guard lock(session_guard);
    if (HttpSession == nullptr) {
        HttpSession = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    }
    return HttpSession;
}

bool IsCancelled(FetchCancel* cancel) {
    if (cancel == nullptr)
        return false;
    std::lock_guard lock(cancel->guard);
    return cancel->cancelled;
}

struct UrlParts {
    std::string host;
    INTERNET_PORT port = 0;
    std::string user;
    std::string password;
    std::string path;  // with the query, and whatever followed a "#"
};

std::string TextOf(const std::vector<char>& buffer) {
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

bool CanonicalizeUrl(const TextValue& url, std::string& canonical) {
    std::vector<char> buffer(kCanonicalBufferSize);
    DWORD length = kCanonicalBufferSize;
    if (!InternetCanonicalizeUrlA(url.c_str(), buffer.data(), &length, ICU_NO_ENCODE)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0)
            return false;
        buffer.assign(length, '\0');
        if (!InternetCanonicalizeUrlA(url.c_str(), buffer.data(), &length, ICU_NO_ENCODE)) {
            return false;
        }
    }
    canonical = TextOf(buffer);
    return true;
}

// Every part is a piece of the URL, so buffers of the URL's size always suffice.
bool CrackUrl(const std::string& url, UrlParts& parts) {
    const DWORD size = static_cast<DWORD>(url.size() + 1);
    std::vector<char> host(size), user(size), password(size), path(size);
    URL_COMPONENTSA components{};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host.data();
    components.dwHostNameLength = size;
    components.lpszUserName = user.data();
    components.dwUserNameLength = size;
    components.lpszPassword = password.data();
    components.dwPasswordLength = size;
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = size;
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &components))
        return false;
    parts.host = TextOf(host);
    parts.port = components.nPort;
    parts.user = TextOf(user);
    parts.password = TextOf(password);
    parts.path = TextOf(path);
    return true;
}

// Leading white space, an optional sign, digits; the chunk size that holds the announced body and
// the read that reports its end, within the bounds.
DWORD ChunkSizeFor(const std::string& length_text) {
    std::size_t i = 0;
    while (i < length_text.size() &&
           (length_text[i] == ' ' || (length_text[i] >= '\t' && length_text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < length_text.size() && (length_text[i] == '+' || length_text[i] == '-')) {
        negative = length_text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    for (; i < length_text.size() && length_text[i] >= '0' && length_text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(length_text[i] - '0');
        if (value >= kLargestChunkSize)
            value = kLargestChunkSize;  // large enough to cap
    }
    if (negative || value == 0)
        return kDefaultChunkSize;
    return value + 1 >= kLargestChunkSize ? kLargestChunkSize : static_cast<DWORD>(value + 1);
}

DWORD ChooseChunkSize(HINTERNET request) {
    char answer[kLengthAnswerSize] = {};
    DWORD length = kLengthAnswerSize;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, answer, &length, nullptr)) {
        return kDefaultChunkSize;
    }
    return ChunkSizeFor(std::string(answer, strnlen(answer, sizeof(answer))));
}

struct OpenConnection {
    HINTERNET handle = nullptr;
    ~OpenConnection() {
        if (handle != nullptr)
            InternetCloseHandle(handle);
    }
};

// Closes the request exactly once: once it is published in the cancel record, whoever takes it
// from there under the record's guard closes it, the fetch or CancelFetch.
struct OpenRequest {
    HINTERNET handle = nullptr;
    FetchCancel* cancel = nullptr;  // set once the handle is published
    ~OpenRequest() {
        HINTERNET mine = handle;
        if (cancel != nullptr) {
            std::lock_guard lock(cancel->guard);
            mine = cancel->request == handle ? handle : nullptr;
            if (mine != nullptr)
                cancel->request = nullptr;
        }
        if (mine != nullptr)
            InternetCloseHandle(mine);
    }
};

void Fetch(const TextValue& url, FetchCancel* cancel, ByteBuffer& result) {
    if (url.c_str()[0] == '\0')
        return;
    std::string canonical;
    UrlParts parts;
    if (!CanonicalizeUrl(url, canonical) || !CrackUrl(canonical, parts))
        return;

    if (IsCancelled(cancel))
        return;
    HINTERNET session = EnsureHttpSession();
    if (session == nullptr)
        return;

    OpenConnection connection;  // declared first, so closed after the request
    connection.handle =
        InternetConnectA(session, parts.host.c_str(), parts.port, parts.user.c_str(),
                         parts.password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    if (connection.handle == nullptr)
        return;

    // The only proxy choice the program makes: whatever the system has configured.
    INTERNET_PROXY_INFO proxy{};
    proxy.dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    proxy.lpszProxy = nullptr;
    proxy.lpszProxyBypass = nullptr;
    InternetSetOptionA(session, INTERNET_OPTION_PROXY, &proxy, sizeof(proxy));
    char empty_user[1] = "";
    char empty_password[1] = "";
    InternetSetOptionA(connection.handle, INTERNET_OPTION_PROXY_USERNAME, empty_user, 1);
    InternetSetOptionA(connection.handle, INTERNET_OPTION_PROXY_PASSWORD, empty_password, 1);

    const std::string::size_type fragment = parts.path.find('#');
    if (fragment != std::string::npos)
        parts.path.resize(fragment);

    OpenRequest request;
    request.handle = HttpOpenRequestA(connection.handle, kMethod, parts.path.c_str(), kVersion,
                                      nullptr, nullptr, kRequestFlags, 0);
    if (request.handle == nullptr)
        return;
    if (cancel != nullptr) {
        std::lock_guard lock(cancel->guard);
        if (cancel->cancelled)
            return;  // the guard closes the unpublished request
        cancel->request = request.handle;
        request.cancel = cancel;
    }

    if (IsCancelled(cancel))
        return;
    if (!HttpSendRequestA(request.handle, kAcceptHeader, kAcceptHeaderLength, nullptr, 0))
        return;
    if (IsCancelled(cancel))
        return;

    const DWORD chunk_size = ChooseChunkSize(request.handle);
    std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[chunk_size]);
    if (!chunk)
        return;
    while (!IsCancelled(cancel)) {
        DWORD read = 0;
        if (!InternetReadFile(request.handle, chunk.get(), chunk_size, &read) || read == 0)
            break;
        if (read > chunk_size)
            read = chunk_size;  // never trust a count beyond the buffer
        result.insert(result.end(), chunk.get(), chunk.get() + read);
    }
}

}  // namespace

ByteBuffer HttpGetBody(const TextValue& url) {
    return HttpGetBody(url, nullptr);
}

ByteBuffer HttpGetBody(const TextValue& url, FetchCancel* cancel) {
    ByteBuffer result;
    try {
        Fetch(url, cancel, result);
    } catch (...) {
        // Memory ran out in the fetch's own bookkeeping or while the result grew: the handles are
        // closed by their owners on the way out, and the result keeps what it held.
    }
    return result;
}

void CancelFetch(FetchCancel& cancel) {
    HINTERNET request = nullptr;
    {
        std::lock_guard lock(cancel.guard);
        cancel.cancelled = true;
        request = cancel.request;
        cancel.request = nullptr;
    }
    // Closing the handle is the platform's way to end a blocking call on it from another thread.
    if (request != nullptr)
        InternetCloseHandle(request);
}

void CloseHttpSession() {
    HINTERNET session = nullptr;
    {
        std::lock_guard lock(session_guard);
        session = HttpSession;
        HttpSession = nullptr;
    }
    if (session != nullptr)
        InternetCloseHandle(session);
}
