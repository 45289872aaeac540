// HttpGetBody's WinINet calls, in order and with their arguments, against a scripted WinINet: the
// chunk sizes, the failure table, the session's life and the cancel paths.
#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/fake/scripted_wininet.h"
#include "sync/http_get.h"

// This program replaces the global operator new and delete with a malloc/free pair; g++ at -O3
// sees the inlined pair and wrongly reports it as mismatched.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Allocations of at least this many bytes fail while it is above 0: memory running out, on cue.
std::atomic<std::size_t> fail_allocations_from{0};

void* operator new(std::size_t size) {
    const std::size_t limit = fail_allocations_from.load();
    if (limit > 0 && size >= limit)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size > 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}
// Every form, so that a sanitizer's own operators cannot step in for some of them.
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace {

using ::testing::ElementsAreArray;

const std::string kUrl = "http://tockmere-time/time15.asp";

std::string Canonicalize(DWORD buffer, const std::string& url = kUrl) {
    return "InternetCanonicalizeUrlA(" + url + ", " + std::to_string(buffer) + ", 0x20000000)";
}
std::string Crack(const std::string& url = kUrl) {
    return "InternetCrackUrlA(" + url + ", 0, 0)";
}
const std::string kOpenSession =
    "InternetOpenA(Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0), 1, null, null, 0)";
const std::string kConnect =
    "InternetConnectA(session1, tockmere-time, 80, \"\", \"\", 3, 0, 0) = connection1";
const std::string kProxy = "InternetSetOptionA(session1, 38, {0, null, null}, " +
                           std::to_string(sizeof(INTERNET_PROXY_INFO)) + ")";
const std::string kProxyUser = "InternetSetOptionA(connection1, 43, \"\", 1)";
const std::string kProxyPassword = "InternetSetOptionA(connection1, 44, \"\", 1)";
std::string OpenRequest(const std::string& path, const std::string& result) {
    return "HttpOpenRequestA(connection1, GET, " + path +
           ", HTTP/1.0, null, null, 0x84000000, 0) = " + result;
}
const std::string kSend = "HttpSendRequestA(request1, \"Accept: */*\\r\\n\\r\\n\", 15, null, 0)";
const std::string kQuery = "HttpQueryInfoA(request1, 5, 32)";
std::string Read(DWORD size) {
    return "InternetReadFile(request1, " + std::to_string(size) + ")";
}
const std::string kCloseRequest = "InternetCloseHandle(request1)";
const std::string kCloseConnection = "InternetCloseHandle(connection1)";

using Calls = std::vector<std::string>;

Calls Join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Everything up to an open request on the default url.
Calls UpToRequest(const std::string& path = "/time15.asp") {
    return {Canonicalize(2084), Crack(),        kOpenSession + " = session1", kConnect, kProxy,
            kProxyUser,         kProxyPassword, OpenRequest(path, "request1")};
}

// The calls without the first `front` and the last `back` of them.
Calls Trimmed(const Calls& calls, std::size_t front, std::size_t back = 0) {
    return Calls(calls.begin() + static_cast<std::ptrdiff_t>(front),
                 calls.end() - static_cast<std::ptrdiff_t>(back));
}

Calls ReadsOf(DWORD size, int count) {
    return Calls(static_cast<std::size_t>(count), Read(size));
}

ScriptedRead Bytes(std::size_t count, char fill = 'x') {
    return {true, std::string(count, fill)};
}

std::string AsText(const ByteBuffer& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Each test starts without a session, as the program does.
class HttpGetSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseHttpSession();
        ScriptWinInet({});
    }
    void TearDown() override {
        fail_allocations_from = 0;
        CloseHttpSession();
    }
};

struct SequenceCase {
    const char* name;
    WinInetScript script;
    std::string url;
    Calls calls;
    std::string body;
};

// One fetch on a fresh session: the body it returns and the calls it makes.
void ExpectSequence(const SequenceCase& c) {
    SCOPED_TRACE(c.name);
    CloseHttpSession();
    ScriptWinInet(c.script);
    EXPECT_EQ(AsText(HttpGetBody(c.url)), c.body);
    EXPECT_THAT(RecordedWinInetCalls(), ElementsAreArray(c.calls));
}

WinInetScript WithLength(std::optional<std::string> length, std::vector<ScriptedRead> reads) {
    WinInetScript script;
    script.content_length = std::move(length);
    script.reads = std::move(reads);
    return script;
}

template <typename Change>
WinInetScript Scripted(Change change) {
    WinInetScript script;
    change(script);
    return script;
}

TEST_F(HttpGetSequenceTest, ChunkSizeFollowsTheAnnouncedLength) {
    const Calls head = Join({UpToRequest(), {kSend, kQuery}});
    const Calls tail = {kCloseRequest, kCloseConnection};
    const SequenceCase cases[] = {
        {"500 announced: one read of 501, then the end", WithLength("500", {Bytes(500)}), kUrl,
         Join({head, ReadsOf(501, 2), tail}), std::string(500, 'x')},
        {"no length: reads of 10240", WithLength(std::nullopt, {Bytes(10240), Bytes(100)}), kUrl,
         Join({head, ReadsOf(10240, 3), tail}), std::string(10340, 'x')},
        {"length 0: reads of 10240", WithLength("0", {Bytes(7)}), kUrl,
         Join({head, ReadsOf(10240, 2), tail}), std::string(7, 'x')},
        {"negative length: reads of 10240", WithLength("-5", {Bytes(7)}), kUrl,
         Join({head, ReadsOf(10240, 2), tail}), std::string(7, 'x')},
        {"not a number: reads of 10240", WithLength("many", {Bytes(7)}), kUrl,
         Join({head, ReadsOf(10240, 2), tail}), std::string(7, 'x')},
        {"blanks and a plus sign before the digits", WithLength(" \t+500", {Bytes(500)}), kUrl,
         Join({head, ReadsOf(501, 2), tail}), std::string(500, 'x')},
        {"102399 still fits one read of 102400", WithLength("102399", {Bytes(102399)}), kUrl,
         Join({head, ReadsOf(102400, 2), tail}), std::string(102399, 'x')},
        {"200000 capped at 102400", WithLength("200000", {Bytes(102400), Bytes(97600, 'y')}), kUrl,
         Join({head, ReadsOf(102400, 3), tail}),
         std::string(102400, 'x') + std::string(97600, 'y')},
        {"a length too big for 64 bits is capped, not wrapped",
         WithLength("99999999999999999999999", {Bytes(3)}), kUrl,
         Join({head, ReadsOf(102400, 2), tail}), std::string(3, 'x')},
        {"more than announced is read to the end", WithLength("2", {Bytes(2), Bytes(5, 'y')}), kUrl,
         Join({head, ReadsOf(3, 3), tail}), "xxyyy"},
    };
    for (const SequenceCase& c : cases)
        ExpectSequence(c);
}

TEST_F(HttpGetSequenceTest, EveryFailureClosesWhatIsOpenAndReturnsWhatWasRead) {
    const std::string fragment_url = "http://tockmere-time/time15.asp?a=1#part";
    const SequenceCase cases[] = {
        {"empty url: no call at all", {}, "", {}, ""},
        {"url cannot be canonicalised",
         Scripted([](auto& s) { s.canonicalize_fails = true; }),
         kUrl,
         {Canonicalize(2084)},
         ""},
        {"canonical url asks for a larger buffer", Scripted([](auto& s) {
             s.canonical_size_asked = 5000;
             s.content_length = "1";
             s.reads = {Bytes(1)};
         }),
         kUrl,
         Join({{Canonicalize(2084), Canonicalize(5000)},
               Trimmed(UpToRequest(), 1),
               {kSend, kQuery, Read(2), Read(2), kCloseRequest, kCloseConnection}}),
         "x"},
        {"url cannot be cracked",
         Scripted([](auto& s) { s.crack_fails = true; }),
         kUrl,
         {Canonicalize(2084), Crack()},
         ""},
        {"no session handle: nothing to close",
         Scripted([](auto& s) { s.open_failures = 1; }),
         kUrl,
         {Canonicalize(2084), Crack(), kOpenSession + " = null"},
         ""},
        {"no connection: nothing to close",
         Scripted([](auto& s) { s.connect_fails = true; }),
         kUrl,
         {Canonicalize(2084), Crack(), kOpenSession + " = session1",
          "InternetConnectA(session1, tockmere-time, 80, \"\", \"\", 3, 0, 0) = null"},
         ""},
        {"request cannot be opened: the connection is closed",
         Scripted([](auto& s) { s.open_request_fails = true; }), kUrl,
         Join({Trimmed(UpToRequest(), 0, 1),
               {OpenRequest("/time15.asp", "null"), kCloseConnection}}),
         ""},
        {"sending fails: request, then connection", Scripted([](auto& s) { s.send_fails = true; }),
         kUrl, Join({UpToRequest(), {kSend, kCloseRequest, kCloseConnection}}), ""},
        {"reading breaks off: the bytes read until then",
         WithLength("1000", {Bytes(300), {false, ""}}), kUrl,
         Join(
             {UpToRequest(), {kSend, kQuery}, ReadsOf(1001, 2), {kCloseRequest, kCloseConnection}}),
         std::string(300, 'x')},
        {"the path stops before the fragment", WithLength("1", {Bytes(1)}), fragment_url,
         Join({{Canonicalize(2084, fragment_url), Crack(fragment_url)},
               Trimmed(UpToRequest("/time15.asp?a=1"), 2),
               {kSend, kQuery, Read(2), Read(2), kCloseRequest, kCloseConnection}}),
         "x"},
    };
    for (const SequenceCase& c : cases)
        ExpectSequence(c);
}

TEST_F(HttpGetSequenceTest, MemoryRunningOutEndsTheFetchWithWhatItHolds) {
    struct Case {
        const char* name;
        std::size_t fail_from;
        std::size_t reads_made;
        std::size_t body_size;
    };
    const Case cases[] = {
        // The chunk buffer is the first allocation of 102400 bytes.
        {"chunk buffer cannot be allocated", 102400, 0, 0},
        // The result doubles 102400 -> 204800 -> 409600: the third append finds no memory.
        {"result cannot grow past 204800 bytes", 300000, 3, 204800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CloseHttpSession();
        ScriptWinInet(WithLength("200000", std::vector<ScriptedRead>(5, Bytes(102400))));
        fail_allocations_from = c.fail_from;
        const ByteBuffer body = HttpGetBody(kUrl);
        fail_allocations_from = 0;
        EXPECT_EQ(body.size(), c.body_size);
        EXPECT_THAT(RecordedWinInetCalls(),
                    ElementsAreArray(Join({UpToRequest(),
                                           {kSend, kQuery},
                                           ReadsOf(102400, static_cast<int>(c.reads_made)),
                                           {kCloseRequest, kCloseConnection}})));
    }
}

TEST_F(HttpGetSequenceTest, OneSessionServesEveryFetchOnceOpened) {
    struct Case {
        const char* name;
        int open_failures;
        Calls opens;  // the InternetOpenA calls of three fetches in a row
    };
    const Case cases[] = {
        {"opened by the first fetch, reused by the next two", 0, {kOpenSession + " = session1"}},
        {"a failed open is tried again by the next fetch",
         1,
         {kOpenSession + " = null", kOpenSession + " = session1"}},
        {"and again while it keeps failing",
         2,
         {kOpenSession + " = null", kOpenSession + " = null", kOpenSession + " = session1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CloseHttpSession();
        ScriptWinInet(Scripted([&](auto& s) { s.open_failures = c.open_failures; }));
        for (int i = 0; i < 3; ++i)
            HttpGetBody(kUrl);
        Calls opens;
        for (const std::string& call : RecordedWinInetCalls()) {
            if (call.rfind("InternetOpenA(", 0) == 0)
                opens.push_back(call);
        }
        EXPECT_THAT(opens, ElementsAreArray(c.opens));
    }
    CloseHttpSession();
    EXPECT_EQ(RecordedWinInetCalls().back(), "InternetCloseHandle(session1)");
}

TEST_F(HttpGetSequenceTest, CancelClosesTheRequestExactlyOnce) {
    FetchCancel* cancel = nullptr;
    auto cancel_now = [&] { CancelFetch(*cancel); };
    const SequenceCase cases[] = {
        {"cancel before the request exists: it is opened, closed, never sent",
         Scripted([&](auto& s) {
             s.hook_call = "InternetConnectA";
             s.hook = cancel_now;
         }),
         kUrl, Join({UpToRequest(), {kCloseRequest, kCloseConnection}}), ""},
        {"cancel during the send: the stop closes the request, the fetch the connection",
         Scripted([&](auto& s) {
             s.hook_call = "HttpSendRequestA";
             s.hook = cancel_now;
         }),
         kUrl, Join({UpToRequest(), {kSend, kCloseRequest, kCloseConnection}}), ""},
        {"cancel during a read: no further read", Scripted([&](auto& s) {
             s.content_length = "1000";
             s.reads = {Bytes(300), Bytes(300)};
             s.hook_call = "InternetReadFile";
             s.hook = cancel_now;
         }),
         kUrl, Join({UpToRequest(), {kSend, kQuery, Read(1001), kCloseRequest, kCloseConnection}}),
         ""},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        CloseHttpSession();
        ScriptWinInet(c.script);
        FetchCancel record;
        cancel = &record;
        EXPECT_EQ(AsText(HttpGetBody(c.url, &record)), c.body);
        EXPECT_THAT(RecordedWinInetCalls(), ElementsAreArray(c.calls));
    }
}

}  // namespace
