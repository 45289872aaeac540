// The scripted test server over raw TCP: BSD sockets on Linux, Winsock on Windows, so the same test
// runs natively and, under Wine, against the platform's own HTTP client.
#include "tests/support/scripted_http_server.h"

#include <algorithm>
#include <chrono>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
constexpr int kNoSignal = 0;
void CloseSocket(SOCKET s) {
    closesocket(s);
}
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SOCKET = int;
using SocketLength = socklen_t;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int kNoSignal = MSG_NOSIGNAL;  // a client gone must fail the send, not kill the test
void CloseSocket(SOCKET s) {
    close(s);
}
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
#endif

namespace {

constexpr std::uintptr_t kNone = static_cast<std::uintptr_t>(-1);

SOCKET AsSocket(std::uintptr_t value) {
    return static_cast<SOCKET>(value);
}

void StartSockets() {
#if defined(_WIN32)
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
}

// Waits up to 50 ms for the socket to become readable.
bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{0, 50000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
}

SOCKET ListenOnLoopback(std::uint16_t& port) {
    StartSockets();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    SocketLength length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(s);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return s;
}

bool SendAll(SOCKET s, const char* data, std::size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 16));
        const int sent = send(s, data, chunk, kNoSignal);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace

std::uint8_t PatternByte(std::uint64_t index) {
    return static_cast<std::uint8_t>(index % 251 + (index / 251) * 7);
}

ScriptedHttpServer::ScriptedHttpServer(HttpScenario scenario)
    : scenario_(std::move(scenario)), client_(kNone) {
    const SOCKET s = ListenOnLoopback(port_);
    listener_ = static_cast<std::uintptr_t>(s);
    if (s != INVALID_SOCKET)
        thread_ = std::thread([this] { Run(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    Stop();
}

std::string ScriptedHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedHttpServer::Requests() const {
    std::lock_guard lock(guard_);
    return requests_;
}

void ScriptedHttpServer::Stop() {
    stopping_ = true;
    // Wakes a send that a silent client has blocked.
    const std::uintptr_t client = client_.load();
    if (client != kNone)
        shutdown(AsSocket(client), kShutBoth);
    if (thread_.joinable())
        thread_.join();
    if (AsSocket(listener_) != INVALID_SOCKET) {
        CloseSocket(AsSocket(listener_));
        listener_ = static_cast<std::uintptr_t>(INVALID_SOCKET);
    }
}

void ScriptedHttpServer::Run() {
    while (!stopping_) {
        if (!Readable(AsSocket(listener_)))
            continue;
        const SOCKET client = accept(AsSocket(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        client_ = static_cast<std::uintptr_t>(client);
        if (stopping_)
            shutdown(client, kShutBoth);  // Stop may have looked before we stored it
        Serve(static_cast<std::uintptr_t>(client));
        client_ = kNone;
        CloseSocket(client);
    }
}

// Until the server stops or the peer goes; false when the server stops.
bool ScriptedHttpServer::Hold(std::uintptr_t client) {
    char scratch[512];
    while (!stopping_) {
        if (!Readable(AsSocket(client)))
            continue;
        if (recv(AsSocket(client), scratch, sizeof(scratch), 0) <= 0)
            return true;
    }
    return false;
}

void ScriptedHttpServer::Serve(std::uintptr_t handle) {
    const SOCKET client = AsSocket(handle);
    std::string request;
    char buffer[4096];
    while (!stopping_ && request.find("\r\n\r\n") == std::string::npos &&
           request.size() < (1 << 20)) {
        if (!Readable(client))
            continue;
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard lock(guard_);
        requests_.push_back(request);
    }
    if (stopping_ || !scenario_.answer) {
        Hold(handle);
        return;
    }
    if (!SendAll(client, scenario_.head.data(), scenario_.head.size()))
        return;
    const std::uint64_t total =
        scenario_.generated_body > 0 ? scenario_.generated_body : scenario_.body.size();
    const std::uint64_t limit = std::min(total, scenario_.body_bytes_sent);
    std::string block;
    for (std::uint64_t at = 0; at < limit && !stopping_;) {
        const std::uint64_t n = std::min<std::uint64_t>(limit - at, 1 << 16);
        if (scenario_.generated_body > 0) {
            block.resize(static_cast<std::size_t>(n));
            for (std::uint64_t i = 0; i < n; ++i) {
                block[static_cast<std::size_t>(i)] = static_cast<char>(PatternByte(at + i));
            }
        } else {
            block =
                scenario_.body.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(n));
        }
        if (!SendAll(client, block.data(), block.size()))
            return;
        at += n;
    }
    switch (scenario_.ending) {
        case HttpEnding::kClose:
            shutdown(client, kShutSend);  // the close itself follows in Run
            break;
        case HttpEnding::kReset: {
            // Give the client a moment to take in what was sent, then abort the connection.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            linger abort{};
            abort.l_onoff = 1;
            abort.l_linger = 0;
            setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                       sizeof(abort));
            break;
        }
        case HttpEnding::kStall:
            Hold(handle);
            break;
    }
}

std::uint16_t UnusedLoopbackPort() {
    std::uint16_t port = 0;
    const SOCKET s = ListenOnLoopback(port);
    if (s != INVALID_SOCKET)
        CloseSocket(s);
    return port;
}
