// A loopback HTTP server for tests: answers by script, misbehaves on purpose, records requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_socket.h"

// What happens once the scripted bytes are out.
enum class HttpEnding {
    kClose,  // an orderly close
    kReset,  // an abortive close (RST)
    kStall,  // the connection stays open and silent until the server stops
};

struct HttpScenario {
    bool answer = true;                            // false: read the request, then never say a word
    std::string head = "HTTP/1.0 200 OK\r\n\r\n";  // status line and headers, sent as they are
    std::string body;
    std::uint64_t generated_body = 0;  // above 0: this many PatternByte bytes instead of `body`
    std::uint64_t body_bytes_sent = std::numeric_limits<std::uint64_t>::max();  // cut-off
    HttpEnding ending = HttpEnding::kClose;
};

// "HTTP/1.0 <status>" and `headers` (whole lines, each ending in CRLF), then the blank line.
std::string ScriptedHead(const std::string& status, const std::string& headers);
// Sends `head` and the first `body_bytes_sent` bytes of `body`, then ends as `ending` says.
HttpScenario ScriptedAnswer(
    std::string head, std::string body,
    std::uint64_t body_bytes_sent = std::numeric_limits<std::uint64_t>::max(),
    HttpEnding ending = HttpEnding::kClose);
// Sends a generated body (PatternByte) of `size` bytes, its length announced, then closes.
HttpScenario ScriptedGeneratedAnswer(std::uint64_t size);
// Reads the request and never answers.
HttpScenario ScriptedSilence();

// Byte `index` of a generated body: not periodic over short spans, so a lost or repeated block
// shows.
std::uint8_t PatternByte(std::uint64_t index);

// Serves every connection in turn with the same scenario, on 127.0.0.1 and an ephemeral port, on
// a thread of its own. Stopping (or destruction) ends every stall and joins the thread.
class ScriptedHttpServer {
public:
    explicit ScriptedHttpServer(HttpScenario scenario);
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string Url(const std::string& path) const;
    // The bytes of each request received so far, up to and including its blank line.
    std::vector<std::string> Requests() const;
    void Stop();

private:
    void Run();
    void Serve(SocketHandle client);
    bool Hold(SocketHandle client);

    HttpScenario scenario_;
    OwnedSocket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<SocketHandle> client_{kNoSocket};
    mutable std::mutex guard_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A loopback port that nothing listens on (it was free a moment ago).
std::uint16_t UnusedLoopbackPort();
