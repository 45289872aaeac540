// WinINet's synchronous HTTP subset for Linux, on libcurl: the handle tree, the URL functions, and
// requests driven through the multi interface so that the body is pulled read by read.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace {

using Clock = std::chrono::steady_clock;

// A platform client's defaults: a minute to find and reach the host, half a minute of silence
// before a receive gives up (see docs/http-client.md).
constexpr DWORD kDefaultConnectTimeout = 60000;
constexpr DWORD kDefaultReceiveTimeout = 30000;
constexpr long kMaxRedirects = 10;
// Body bytes held here at most before the transfer is paused until the caller reads.
constexpr std::size_t kBufferLimit = 64 * 1024;
constexpr DWORD kFlagAsync = 0x10000000;  // INTERNET_FLAG_ASYNC: not offered

enum class Kind { kSession, kConnection, kRequest };

// A request's curl handles: the easy handle is added to a multi handle of its own, so that a close
// from another thread can wake exactly this request's poll.
struct CurlPair {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
};

void CleanUp(CurlPair pair) {
    if (pair.easy != nullptr)
        curl_easy_cleanup(pair.easy);
    if (pair.multi != nullptr)
        curl_multi_cleanup(pair.multi);
}

// A session's idle pairs, for its next requests: making a multi handle opens a socket pair for its
// wake-ups, and the fetch makes one request after another on the one session. Two suffice for a
// worker that starts while the last one ends.
constexpr std::size_t kMaxIdlePairs = 2;

class HandlePool {
public:
    HandlePool() { idle_.reserve(kMaxIdlePairs); }
    ~HandlePool() {
        for (const CurlPair& pair : idle_)
            CleanUp(pair);
    }
    HandlePool(const HandlePool&) = delete;
    HandlePool& operator=(const HandlePool&) = delete;

    // An idle pair, or none.
    CurlPair Take() {
        std::lock_guard lock(guard_);
        if (idle_.empty())
            return CurlPair{};
        const CurlPair pair = idle_.back();
        idle_.pop_back();
        return pair;
    }
    // Keeps a reset pair; false when the pool is full and the caller must clean it up.
    bool Give(CurlPair pair) {
        std::lock_guard lock(guard_);
        if (idle_.size() >= kMaxIdlePairs)
            return false;
        idle_.push_back(pair);  // within the reserved room: never throws
        return true;
    }

private:
    std::mutex guard_;
    std::vector<CurlPair> idle_;
};

struct Transfer {
    std::mutex call_guard;  // one call at a time drives the curl handles
    const std::atomic<bool>* closed = nullptr;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::weak_ptr<HandlePool> pool;  // the session's, which takes the handles back
    curl_slist* headers = nullptr;
    std::string url;
    std::string verb;
    std::string version;
    DWORD flags = 0;
    std::vector<std::string> extra_headers;  // from the referrer and the accepted types
    std::vector<char> optional;              // request body, copied at send
    bool sent = false;

    // Filled by curl's callbacks, on the thread that drives the transfer.
    long status = 0;
    bool has_location = false;
    bool headers_final = false;
    std::vector<std::string> header_lines;  // of the final answer
    std::string body;
    std::size_t body_offset = 0;
    bool paused = false;
    std::uint64_t body_received = 0;
    bool connected = false;
    Clock::time_point last_activity{};
    bool done = false;
    CURLcode result = CURLE_OK;
    DWORD pending_error = ERROR_SUCCESS;

    // Removing the easy handle ends an unfinished transfer and closes its connection, with any
    // paused data; the reset drops every option, so the next request starts as on new handles.
    ~Transfer() {
        const CurlPair pair{easy, multi};
        bool reusable = easy != nullptr && multi != nullptr;
        if (reusable)
            reusable = curl_multi_remove_handle(multi, easy) == CURLM_OK;
        if (reusable)
            curl_easy_reset(easy);
        if (headers != nullptr)
            curl_slist_free_all(headers);  // only now that no handle points at the list
        if (reusable) {
            // A session gone by now has taken its pool with it.
            const std::shared_ptr<HandlePool> keeper = pool.lock();
            if (keeper && keeper->Give(pair))
                return;
        }
        CleanUp(pair);
    }
};

// One struct for the three kinds of handle: a session, a connection on it, a request on that.
struct Object {
    Kind kind = Kind::kSession;
    std::shared_ptr<Object> parent;  // keeps the settings a child reads alive
    std::vector<std::weak_ptr<Object>> children;
    std::atomic<bool> closed{false};
    std::uintptr_t handle = 0;

    std::optional<DWORD> connect_timeout, receive_timeout;
    // Session.
    std::string agent;
    DWORD access_type = INTERNET_OPEN_TYPE_DIRECT;
    std::string proxy, proxy_bypass;
    std::shared_ptr<HandlePool> pool;  // set at creation, freed with the session's last reference
    // Connection (the proxy credentials also on a request).
    std::string host;
    INTERNET_PORT port = 0;
    std::string user, password;
    std::optional<std::string> proxy_user, proxy_password;
    // Request.
    std::unique_ptr<Transfer> transfer;
};

// The handle table. Values only grow, so a closed handle's value is never given out again and a
// late call with it fails instead of reaching someone else's request. The guard also covers the
// settings and the children lists, and is held only for short bookkeeping.
std::mutex guard;
std::map<std::uintptr_t, std::shared_ptr<Object>> table;
std::uintptr_t next_handle = 0x1000;

std::once_flag curl_ready;
bool curl_usable = false;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HINTERNET FailHandle(DWORD error) {
    SetLastError(error);
    return nullptr;
}

std::shared_ptr<Object> Lookup(HINTERNET handle, std::optional<Kind> kind) {
    std::lock_guard lock(guard);
    const auto found = table.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (kind && found->second->kind != *kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return found->second;
}

HINTERNET Register(const std::shared_ptr<Object>& object) {
    std::lock_guard lock(guard);
    object->handle = next_handle;
    next_handle += 4;
    table.emplace(object->handle, object);
    if (object->parent) {
        // The session lives as long as the process and gains a child every fetch: drop the
        // children that are gone, or their memory stays tied to the list for good.
        auto& children = object->parent->children;
        std::erase_if(children, [](const std::weak_ptr<Object>& child) { return child.expired(); });
        children.push_back(object);
    }
    return reinterpret_cast<HINTERNET>(object->handle);
}

// The nearest setting on the handle or its ancestors; called under the guard.
DWORD EffectiveTimeout(const Object& object, std::optional<DWORD> Object::*field, DWORD fallback) {
    for (const Object* at = &object; at != nullptr; at = at->parent.get()) {
        if (at->*field)
            return *(at->*field);
    }
    return fallback;
}

const Object* Ancestor(const Object& object, Kind kind) {
    for (const Object* at = &object; at != nullptr; at = at->parent.get()) {
        if (at->kind == kind)
            return at;
    }
    return nullptr;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        const char a = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        if (a != prefix[i])
            return false;
    }
    return true;
}

std::string Trim(std::string text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Bytes a request line cannot carry as they are.
std::string EscapeUnsafe(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// ---- curl's callbacks
// ----------------------------------------------------------------------------

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    const std::string line(data, length);
    t.last_activity = Clock::now();
    if (line.rfind("HTTP/", 0) == 0) {
        // A new answer: an interim one, or the next hop of a redirect.
        t.header_lines.clear();
        t.has_location = false;
        t.headers_final = false;
        t.status = 0;
        const std::size_t space = line.find(' ');
        if (space != std::string::npos)
            t.status = std::strtol(line.c_str() + space + 1, nullptr, 10);
    } else if (line == "\r\n" || line == "\n") {
        const bool interim = t.status >= 100 && t.status < 200;
        const bool followed =
            t.status >= 300 && t.status < 400 && t.status != 304 && t.has_location;
        if (!interim && !followed) {
            t.headers_final = true;
        } else if (followed) {
            t.connected = false;  // the next hop connects anew, under the connect time-out
        }
    } else {
        if (StartsWithNoCase(line, "location:"))
            t.has_location = true;
        t.header_lines.push_back(line);
    }
    return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    if (t.closed->load())
        return CURL_WRITEFUNC_ERROR;
    if (!t.headers_final)
        return length;  // the body of an answer that is not the final one
    if (t.body.size() - t.body_offset >= kBufferLimit) {
        t.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    t.body.append(data, length);
    t.body_received += length;
    t.last_activity = Clock::now();
    return length;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->closed->load() ? 1 : 0;
}

int OnConnected(void* user, char*, char*, int, int) {
    auto& t = *static_cast<Transfer*>(user);
    t.connected = true;
    t.last_activity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

DWORD ErrorFor(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_URL_MALFORMAT:
            return ERROR_INTERNET_INVALID_URL;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_HTTP_REDIRECT_FAILED;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return ERROR_INTERNET_CONNECTION_RESET;
        case CURLE_ABORTED_BY_CALLBACK:
        case CURLE_WRITE_ERROR:
            return ERROR_INTERNET_OPERATION_CANCELLED;
        case CURLE_OUT_OF_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

// Runs the transfer until `ready` holds or it ends; 0, or the error that stopped the wait: the
// handle closed by another thread, or `receive_timeout` ms without a byte once connected.
template <typename Ready>
DWORD Drive(Transfer& t, DWORD receive_timeout, Ready ready) {
    for (;;) {
        if (t.closed->load())
            return ERROR_INTERNET_OPERATION_CANCELLED;
        int running = 0;
        const CURLMcode step = curl_multi_perform(t.multi, &running);
        if (step == CURLM_OUT_OF_MEMORY)
            return ERROR_NOT_ENOUGH_MEMORY;
        if (step != CURLM_OK)
            return ERROR_INTERNET_INTERNAL_ERROR;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(t.multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                t.done = true;
                t.result = message->data.result;
            }
        }
        if (t.closed->load())
            return ERROR_INTERNET_OPERATION_CANCELLED;
        if (ready() || t.done)
            return ERROR_SUCCESS;
        int wait_ms = 1000;
        if (t.connected && receive_timeout != 0 && receive_timeout != INFINITE) {
            const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   Clock::now() - t.last_activity)
                                   .count();
            if (quiet >= receive_timeout)
                return ERROR_INTERNET_TIMEOUT;
            wait_ms = static_cast<int>(std::min<long long>(wait_ms, receive_timeout - quiet));
        }
        // Woken at once by curl_multi_wakeup when another thread closes the handle.
        curl_multi_poll(t.multi, nullptr, 0, wait_ms, nullptr);
    }
}

void MarkClosed(const std::shared_ptr<Object>& object,
                std::vector<std::shared_ptr<Object>>& closed) {
    object->closed.store(true);
    table.erase(object->handle);
    closed.push_back(object);
    for (const auto& weak : object->children) {
        if (auto child = weak.lock(); child && !child->closed.load())
            MarkClosed(child, closed);
    }
}

std::vector<std::string> SplitHeaderText(LPCSTR text, DWORD length) {
    std::vector<std::string> lines;
    if (text == nullptr)
        return lines;
    const std::string all =
        length == static_cast<DWORD>(-1) ? std::string(text) : std::string(text, length);
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        if (end == std::string::npos)
            end = all.size();
        std::string line = Trim(all.substr(at, end - at));
        if (!line.empty())
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// Reads one request's settings from its ancestors and starts the transfer; false when curl
// refuses one of them.
bool Configure(const Object& request, Transfer& t, const std::vector<std::string>& lines) {
    std::string agent, proxy, bypass, proxy_user, proxy_password;
    DWORD access = INTERNET_OPEN_TYPE_DIRECT;
    DWORD connect_timeout = kDefaultConnectTimeout;
    {
        std::lock_guard lock(guard);
        const Object* session = Ancestor(request, Kind::kSession);
        const Object* connection = Ancestor(request, Kind::kConnection);
        if (session != nullptr) {
            agent = session->agent;
            access = session->access_type;
            proxy = session->proxy;
            bypass = session->proxy_bypass;
        }
        if (request.proxy_user) {
            proxy_user = *request.proxy_user;
        } else if (connection != nullptr && connection->proxy_user) {
            proxy_user = *connection->proxy_user;
        }
        if (request.proxy_password) {
            proxy_password = *request.proxy_password;
        } else if (connection != nullptr && connection->proxy_password) {
            proxy_password = *connection->proxy_password;
        }
        connect_timeout = EffectiveTimeout(request, &Object::connect_timeout, connect_timeout);
    }

    for (const std::string& line : t.extra_headers)
        t.headers = curl_slist_append(t.headers, line.c_str());
    for (const std::string& line : lines)
        t.headers = curl_slist_append(t.headers, line.c_str());
    if ((t.flags & INTERNET_FLAG_RELOAD) != 0) {
        // Past every cache, HTTP/1.0 ones included.
        t.headers = curl_slist_append(t.headers, "Pragma: no-cache");
        t.headers = curl_slist_append(t.headers, "Cache-Control: no-cache");
    }

    CURL* e = t.easy;
    bool ok = curl_easy_setopt(e, CURLOPT_URL, t.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                                t.version == "HTTP/1.1" ? CURL_HTTP_VERSION_1_1
                                                        : CURL_HTTP_VERSION_1_0) == CURLE_OK;
    if (!agent.empty())
        ok = ok && curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK;
    if (t.headers != nullptr)
        ok = ok && curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers) == CURLE_OK;
    if (access == INTERNET_OPEN_TYPE_DIRECT) {
        ok = ok && curl_easy_setopt(e, CURLOPT_PROXY, "") == CURLE_OK;
    } else if (access == INTERNET_OPEN_TYPE_PROXY) {
        // The first entry of the list, without any "scheme=" in front of it.
        std::string first = proxy.substr(0, proxy.find_first_of(" ;"));
        if (const std::size_t eq = first.find('='); eq != std::string::npos)
            first.erase(0, eq + 1);
        std::replace(bypass.begin(), bypass.end(), ';', ',');
        std::replace(bypass.begin(), bypass.end(), ' ', ',');
        ok = ok && curl_easy_setopt(e, CURLOPT_PROXY, first.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(e, CURLOPT_NOPROXY, bypass.c_str()) == CURLE_OK;
    }
    // INTERNET_OPEN_TYPE_PRECONFIG leaves the proxy to libcurl, which reads http_proxy and
    // no_proxy from the environment: Linux's convention for the system's proxy settings.
    if (!proxy_user.empty()) {
        ok = ok && curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxy_user.c_str()) == CURLE_OK;
    }
    if (!proxy_password.empty()) {
        ok = ok && curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxy_password.c_str()) == CURLE_OK;
    }
    if (connect_timeout != 0 && connect_timeout != INFINITE) {
        // Name lookup and connecting together, as the platform's connect time-out counts them.
        ok = ok && curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                                    static_cast<long>(connect_timeout)) == CURLE_OK;
    }
    // Redirects are followed as the platform's client follows them, staying on HTTP.
    ok = ok && curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http") == CURLE_OK;
    // The body runs to the end of the connection, however long the answer says it is.
    ok = ok && curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK;
    // The multi handle serves one request after another: each looks its host up anew, as on a
    // new handle, so no address outlives the request that found it.
    ok = ok && curl_easy_setopt(e, CURLOPT_DNS_CACHE_TIMEOUT, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // A request dropped during a name lookup must not wait for the resolver thread.
    ok = ok && curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HEADERDATA, &t) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_WRITEDATA, &t) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PREREQDATA, &t) == CURLE_OK;
    if (!t.optional.empty()) {
        ok = ok && curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE,
                                    static_cast<long>(t.optional.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(e, CURLOPT_POSTFIELDS, t.optional.data()) == CURLE_OK;
    }
    if (t.verb == "HEAD") {
        ok = ok && curl_easy_setopt(e, CURLOPT_NOBODY, 1L) == CURLE_OK;
    } else if (t.verb != "GET" || !t.optional.empty()) {
        ok = ok && curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, t.verb.c_str()) == CURLE_OK;
    }
    return ok && curl_multi_add_handle(t.multi, e) == CURLM_OK;
}

DWORD ReceiveTimeoutOf(const Object& request) {
    std::lock_guard lock(guard);
    return EffectiveTimeout(request, &Object::receive_timeout, kDefaultReceiveTimeout);
}

// The announced length of the final answer, when it has a readable one.
std::optional<std::uint64_t> AnnouncedLength(const Transfer& t) {
    for (const std::string& line : t.header_lines) {
        if (!StartsWithNoCase(line, "content-length:"))
            continue;
        const std::string value = Trim(line.substr(std::strlen("content-length:")));
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        return std::strtoull(value.c_str(), nullptr, 10);
    }
    return std::nullopt;
}

// curl's URL handle, freed on every path.
struct UrlHandle {
    CURLU* url = curl_url();
    ~UrlHandle() { curl_url_cleanup(url); }
};

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part, unsigned int flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr)
        return std::nullopt;
    std::string copy(text);
    curl_free(text);
    return copy;
}

// One part of InternetCrackUrlA: copied into the caller's buffer, or pointed at inside the URL.
bool GivePart(LPCSTR url, std::size_t& cursor, const std::string& value, LPSTR& text,
              DWORD& length) {
    if (text == nullptr && length == 0)
        return true;  // not asked for
    if (text != nullptr) {
        if (length <= value.size()) {
            length = static_cast<DWORD>(value.size() + 1);
            return false;
        }
        std::memcpy(text, value.c_str(), value.size() + 1);
        length = static_cast<DWORD>(value.size());
        return true;
    }
    const char* found = value.empty() ? nullptr : std::strstr(url + cursor, value.c_str());
    if (found == nullptr) {
        text = const_cast<LPSTR>(url + cursor);
        length = 0;
        return true;
    }
    text = const_cast<LPSTR>(found);
    length = static_cast<DWORD>(value.size());
    cursor = static_cast<std::size_t>(found - url) + value.size();
    return true;
}

}  // namespace

BOOL InternetCanonicalizeUrlA(LPCSTR lpszUrl, LPSTR lpszBuffer, LPDWORD lpdwBufferLength,
                              DWORD dwFlags) {
    if (lpszUrl == nullptr || lpdwBufferLength == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    UrlHandle url;
    if (url.url == nullptr)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const unsigned int flags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;
    if (curl_url_set(url.url, CURLUPART_URL, lpszUrl, flags) != CURLUE_OK) {
        return Fail(ERROR_INTERNET_INVALID_URL);
    }
    std::optional<std::string> text = UrlPart(url.url, CURLUPART_URL);
    if (!text)
        return Fail(ERROR_INTERNET_INVALID_URL);
    if ((dwFlags & ICU_NO_ENCODE) == 0)
        *text = EscapeUnsafe(*text);
    const DWORD needed = static_cast<DWORD>(text->size() + 1);
    if (lpszBuffer == nullptr || *lpdwBufferLength < needed) {
        *lpdwBufferLength = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszBuffer, text->c_str(), needed);
    *lpdwBufferLength = needed - 1;
    return TRUE;
}

BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD /*dwFlags*/,
                       URL_COMPONENTSA* lpUrlComponents) {
    if (lpszUrl == nullptr || lpUrlComponents == nullptr ||
        lpUrlComponents->dwStructSize < sizeof(URL_COMPONENTSA)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::string whole =
        dwUrlLength == 0 ? std::string(lpszUrl) : std::string(lpszUrl, dwUrlLength);
    UrlHandle url;
    if (url.url == nullptr)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const unsigned int flags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_PATH_AS_IS;
    if (curl_url_set(url.url, CURLUPART_URL, whole.c_str(), flags) != CURLUE_OK) {
        return Fail(ERROR_INTERNET_INVALID_URL);
    }
    const std::string scheme = UrlPart(url.url, CURLUPART_SCHEME).value_or("");
    const std::string user = UrlPart(url.url, CURLUPART_USER).value_or("");
    const std::string password = UrlPart(url.url, CURLUPART_PASSWORD).value_or("");
    const std::string host = UrlPart(url.url, CURLUPART_HOST).value_or("");
    const std::string port = UrlPart(url.url, CURLUPART_PORT, CURLU_DEFAULT_PORT).value_or("0");
    std::string path = UrlPart(url.url, CURLUPART_PATH).value_or("");
    std::string extra;
    if (auto query = UrlPart(url.url, CURLUPART_QUERY))
        extra += "?" + *query;
    if (auto fragment = UrlPart(url.url, CURLUPART_FRAGMENT))
        extra += "#" + *fragment;

    URL_COMPONENTSA& c = *lpUrlComponents;
    if (scheme == "http") {
        c.nScheme = INTERNET_SCHEME_HTTP;
    } else if (scheme == "https") {
        c.nScheme = INTERNET_SCHEME_HTTPS;
    } else if (scheme == "ftp") {
        c.nScheme = INTERNET_SCHEME_FTP;
    } else {
        c.nScheme = INTERNET_SCHEME_UNKNOWN;
    }
    c.nPort = static_cast<INTERNET_PORT>(std::strtoul(port.c_str(), nullptr, 10));
    // Without a place for the extra information, the path keeps the query and the fragment.
    if (c.lpszExtraInfo == nullptr && c.dwExtraInfoLength == 0)
        path += extra;

    std::size_t cursor = 0;
    bool fits = GivePart(lpszUrl, cursor, scheme, c.lpszScheme, c.dwSchemeLength);
    fits = GivePart(lpszUrl, cursor, user, c.lpszUserName, c.dwUserNameLength) && fits;
    fits = GivePart(lpszUrl, cursor, password, c.lpszPassword, c.dwPasswordLength) && fits;
    fits = GivePart(lpszUrl, cursor, host, c.lpszHostName, c.dwHostNameLength) && fits;
    fits = GivePart(lpszUrl, cursor, path, c.lpszUrlPath, c.dwUrlPathLength) && fits;
    fits = GivePart(lpszUrl, cursor, extra, c.lpszExtraInfo, c.dwExtraInfoLength) && fits;
    return fits ? TRUE : Fail(ERROR_INSUFFICIENT_BUFFER);
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags) {
    if ((dwFlags & kFlagAsync) != 0)
        return FailHandle(ERROR_INVALID_PARAMETER);
    if (dwAccessType != INTERNET_OPEN_TYPE_DIRECT && dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG &&
        dwAccessType != INTERNET_OPEN_TYPE_PROXY) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    std::call_once(curl_ready,
                   [] { curl_usable = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    if (!curl_usable)
        return FailHandle(ERROR_INTERNET_INTERNAL_ERROR);
    try {
        auto session = std::make_shared<Object>();
        session->kind = Kind::kSession;
        session->agent = lpszAgent != nullptr ? lpszAgent : "";
        session->access_type = dwAccessType;
        session->proxy = lpszProxy != nullptr ? lpszProxy : "";
        session->proxy_bypass = lpszProxyBypass != nullptr ? lpszProxyBypass : "";
        session->pool = std::make_shared<HandlePool>();
        return Register(session);
    } catch (const std::bad_alloc&) {
        return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
    }
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService,
                           DWORD /*dwFlags*/, DWORD_PTR /*dwContext*/) {
    auto session = Lookup(hInternet, Kind::kSession);
    if (!session)
        return nullptr;
    if (dwService != INTERNET_SERVICE_HTTP || lpszServerName == nullptr ||
        *lpszServerName == '\0') {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    try {
        auto connection = std::make_shared<Object>();
        connection->kind = Kind::kConnection;
        connection->parent = session;
        connection->host = lpszServerName;
        connection->port =
            nServerPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : nServerPort;
        connection->user = lpszUserName != nullptr ? lpszUserName : "";
        connection->password = lpszPassword != nullptr ? lpszPassword : "";
        return Register(connection);
    } catch (const std::bad_alloc&) {
        return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength) {
    auto object = Lookup(hInternet, std::nullopt);
    if (!object)
        return FALSE;
    if (lpBuffer == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(guard);
    switch (dwOption) {
        case INTERNET_OPTION_CONNECT_TIMEOUT:
        case INTERNET_OPTION_RECEIVE_TIMEOUT:
        case INTERNET_OPTION_SEND_TIMEOUT: {
            if (dwBufferLength < sizeof(DWORD))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            DWORD value = 0;
            std::memcpy(&value, lpBuffer, sizeof(value));
            // Sending our short requests is covered by the receive time-out's count.
            if (dwOption == INTERNET_OPTION_CONNECT_TIMEOUT) {
                object->connect_timeout = value;
            } else if (dwOption == INTERNET_OPTION_RECEIVE_TIMEOUT) {
                object->receive_timeout = value;
            }
            return TRUE;
        }
        case INTERNET_OPTION_PROXY: {
            if (object->kind != Kind::kSession)
                return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            if (dwBufferLength < sizeof(INTERNET_PROXY_INFO))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            const auto& info = *static_cast<const INTERNET_PROXY_INFO*>(lpBuffer);
            if (info.dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
                info.dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG &&
                info.dwAccessType != INTERNET_OPEN_TYPE_PROXY) {
                return Fail(ERROR_INVALID_PARAMETER);
            }
            object->access_type = info.dwAccessType;
            object->proxy = info.lpszProxy != nullptr ? info.lpszProxy : "";
            object->proxy_bypass = info.lpszProxyBypass != nullptr ? info.lpszProxyBypass : "";
            return TRUE;
        }
        case INTERNET_OPTION_PROXY_USERNAME:
        case INTERNET_OPTION_PROXY_PASSWORD: {
            if (object->kind == Kind::kSession)
                return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            const auto* text = static_cast<const char*>(lpBuffer);
            const std::string value(text, strnlen(text, dwBufferLength));
            (dwOption == INTERNET_OPTION_PROXY_USERNAME ? object->proxy_user
                                                        : object->proxy_password) = value;
            return TRUE;
        }
        default:
            return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR /*dwContext*/) {
    auto connection = Lookup(hConnect, Kind::kConnection);
    if (!connection)
        return nullptr;
    try {
        auto request = std::make_shared<Object>();
        request->kind = Kind::kRequest;
        request->parent = connection;
        request->transfer = std::make_unique<Transfer>();
        Transfer& t = *request->transfer;
        t.closed = &request->closed;
        std::shared_ptr<HandlePool> pool;
        {
            std::lock_guard lock(guard);
            if (const Object* session = Ancestor(*connection, Kind::kSession))
                pool = session->pool;
        }
        const CurlPair idle = pool ? pool->Take() : CurlPair{};
        t.pool = pool;
        t.easy = idle.easy != nullptr ? idle.easy : curl_easy_init();
        t.multi = idle.multi != nullptr ? idle.multi : curl_multi_init();
        if (t.easy == nullptr || t.multi == nullptr)
            return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
        t.verb = lpszVerb != nullptr && *lpszVerb != '\0' ? lpszVerb : "GET";
        t.version = lpszVersion != nullptr && *lpszVersion != '\0' ? lpszVersion : "HTTP/1.1";
        t.flags = dwFlags;
        // Built by appending: g++ 12 at -O3 misreads concatenations of temporaries as overlaps.
        std::string object;
        if (lpszObjectName == nullptr || lpszObjectName[0] != '/')
            object.push_back('/');
        if (lpszObjectName != nullptr)
            object.append(lpszObjectName);
        {
            std::lock_guard lock(guard);
            const std::string& host = connection->host;
            const bool literal_v6 = host.find(':') != std::string::npos && host[0] != '[';
            t.url.assign("http://");
            if (literal_v6)
                t.url.append("[").append(host).append("]");
            else
                t.url.append(host);
            t.url.append(":").append(std::to_string(connection->port)).append(EscapeUnsafe(object));
        }
        UrlHandle check;
        if (check.url == nullptr)
            return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
        if (curl_url_set(check.url, CURLUPART_URL, t.url.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK) {
            return FailHandle(ERROR_INTERNET_INVALID_URL);
        }
        if (lpszReferrer != nullptr && *lpszReferrer != '\0') {
            t.extra_headers.push_back(std::string("Referer: ") + lpszReferrer);
        }
        if (lplpszAcceptTypes != nullptr && lplpszAcceptTypes[0] != nullptr) {
            std::string accept = "Accept: ";
            for (LPCSTR* type = lplpszAcceptTypes; *type != nullptr; ++type) {
                accept += (type == lplpszAcceptTypes ? "" : ", ") + std::string(*type);
            }
            t.extra_headers.push_back(accept);
        }
        return Register(request);
    } catch (const std::bad_alloc&) {
        return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    auto request = Lookup(hRequest, Kind::kRequest);
    if (!request)
        return FALSE;
    Transfer& t = *request->transfer;
    std::lock_guard call(t.call_guard);
    if (t.sent)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (request->closed.load())
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    try {
        if (lpOptional != nullptr && dwOptionalLength > 0) {
            const auto* bytes = static_cast<const char*>(lpOptional);
            t.optional.assign(bytes, bytes + dwOptionalLength);
        }
        if (!Configure(*request, t, SplitHeaderText(lpszHeaders, dwHeadersLength))) {
            return Fail(ERROR_INTERNET_INTERNAL_ERROR);
        }
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    t.sent = true;
    const DWORD error = Drive(t, ReceiveTimeoutOf(*request), [&] { return t.headers_final; });
    if (error != ERROR_SUCCESS)
        return Fail(error);
    if (t.headers_final)
        return TRUE;
    return Fail(t.result == CURLE_OK ? ERROR_HTTP_INVALID_SERVER_RESPONSE : ErrorFor(t.result));
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    auto request = Lookup(hRequest, Kind::kRequest);
    if (!request)
        return FALSE;
    if (lpdwBufferLength == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwInfoLevel != HTTP_QUERY_CONTENT_LENGTH)
        return Fail(ERROR_INVALID_PARAMETER);
    Transfer& t = *request->transfer;
    std::lock_guard call(t.call_guard);
    if (!t.headers_final)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const DWORD wanted = lpdwIndex != nullptr ? *lpdwIndex : 0;
    DWORD seen = 0;
    for (const std::string& line : t.header_lines) {
        if (!StartsWithNoCase(line, "content-length:") || seen++ != wanted)
            continue;
        const std::string value = Trim(line.substr(std::strlen("content-length:")));
        const DWORD needed = static_cast<DWORD>(value.size() + 1);
        if (lpBuffer == nullptr || *lpdwBufferLength < needed) {
            *lpdwBufferLength = needed;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(lpBuffer, value.c_str(), needed);
        *lpdwBufferLength = needed - 1;
        if (lpdwIndex != nullptr)
            *lpdwIndex = wanted + 1;
        return TRUE;
    }
    return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
    if (lpdwNumberOfBytesRead == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    auto request = Lookup(hFile, Kind::kRequest);
    if (!request)
        return FALSE;
    if (lpBuffer == nullptr && dwNumberOfBytesToRead > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    Transfer& t = *request->transfer;
    std::lock_guard call(t.call_guard);
    if (!t.sent || !t.headers_final)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (t.pending_error != ERROR_SUCCESS)
        return Fail(t.pending_error);
    const DWORD receive_timeout = ReceiveTimeoutOf(*request);
    const std::optional<std::uint64_t> announced = AnnouncedLength(t);
    auto* out = static_cast<char*>(lpBuffer);
    DWORD filled = 0;
    DWORD error = ERROR_SUCCESS;
    t.last_activity = Clock::now();  // each read may wait its own receive time-out
    // Like the platform's synchronous read: fill the buffer unless the body ends first.
    while (filled < dwNumberOfBytesToRead) {
        const std::size_t held = t.body.size() - t.body_offset;
        if (held > 0) {
            const std::size_t take = std::min<std::size_t>(held, dwNumberOfBytesToRead - filled);
            std::memcpy(out + filled, t.body.data() + t.body_offset, take);
            filled += static_cast<DWORD>(take);
            t.body_offset += take;
            if (t.body_offset * 2 >= t.body.size()) {
                t.body.erase(0, t.body_offset);
                t.body_offset = 0;
            }
            if (t.paused && t.body.size() - t.body_offset < kBufferLimit) {
                t.paused = false;
                curl_easy_pause(t.easy, CURLPAUSE_CONT);  // may deliver held data at once
            }
            continue;
        }
        if (t.done) {
            if (t.result != CURLE_OK) {
                error = ErrorFor(t.result);
            } else if (announced && t.body_received < *announced) {
                error = ERROR_INTERNET_CONNECTION_ABORTED;  // closed before the announced end
            }
            break;
        }
        error = Drive(t, receive_timeout, [&] { return t.body.size() > t.body_offset; });
        if (error != ERROR_SUCCESS)
            break;
    }
    if (error != ERROR_SUCCESS) {
        if (filled == 0)
            return Fail(error);
        t.pending_error = error;  // the bytes that came first are delivered; the next read fails
    }
    *lpdwNumberOfBytesRead = filled;
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    std::vector<std::shared_ptr<Object>> closed;
    {
        std::lock_guard lock(guard);
        const auto found = table.find(reinterpret_cast<std::uintptr_t>(hInternet));
        if (found == table.end())
            return Fail(ERROR_INVALID_HANDLE);
        const std::shared_ptr<Object> object = found->second;
        MarkClosed(object, closed);  // children go with their parent
    }
    // A thread inside a call on one of these sees the flag at once; its reference keeps the
    // object alive until it returns, and the last reference frees it. Only a call under way
    // needs waking: one that starts later sees the flag before it polls, and a wake-up byte left
    // in a multi handle that goes back to the session's pool would cost its next request a
    // spurious round of polling and draining.
    for (const auto& object : closed) {
        Transfer* t = object->transfer.get();
        if (t == nullptr || t->multi == nullptr)
            continue;
        if (t->call_guard.try_lock())
            t->call_guard.unlock();
        else
            curl_multi_wakeup(t->multi);
    }
    return TRUE;
}
