// The dropping server over raw TCP: BSD sockets on Linux, Winsock on Windows, so the same test runs
// natively and, under Wine, against the platform's own HTTP client.
#include "tests/faults/dropping_http_server.h"

#include <algorithm>
#include <chrono>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
constexpr int kNoSignal = 0;
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
void CloseSocket(SOCKET s) {
    closesocket(s);
}
#else
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SOCKET = int;
using SocketLength = socklen_t;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int kNoSignal = MSG_NOSIGNAL;  // a client gone must fail the send, not end the test
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
void CloseSocket(SOCKET s) {
    close(s);
}
#endif

namespace {

constexpr std::uintptr_t kNone = static_cast<std::uintptr_t>(-1);

SOCKET AsSocket(std::uintptr_t value) {
    return static_cast<SOCKET>(value);
}

// Waits up to 20 ms for the socket to become readable.
bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{0, 20000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
}

bool SendAll(SOCKET s, const char* data, std::size_t size) {
    while (size > 0) {
        const int sent =
            send(s, data, static_cast<int>(std::min<std::size_t>(size, 1 << 16)), kNoSignal);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Until the peer has acknowledged every byte sent, so a reset cannot overtake them (at most a
// second). Linux counts them for us; elsewhere a pause on loopback does.
void AwaitTakenIn(SOCKET s) {
#if defined(_WIN32)
    (void)s;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
#else
    for (int i = 0; i < 1000; ++i) {
        int unacknowledged = 0;
        if (ioctl(s, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
#endif
}

}  // namespace

DroppingHttpServer::DroppingHttpServer(std::string answer, std::size_t cut, Drop drop)
    : answer_(std::move(answer)),
      cut_(std::min(cut, answer_.size())),
      drop_(drop),
      listener_(static_cast<std::uintptr_t>(INVALID_SOCKET)),
      client_(kNone) {
#if defined(_WIN32)
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SocketLength length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(s);
        return;
    }
    port_ = ntohs(address.sin_port);
    listener_ = static_cast<std::uintptr_t>(s);
    thread_ = std::thread([this] { Run(); });
}

DroppingHttpServer::~DroppingHttpServer() {
    Stop();
}

bool DroppingHttpServer::Listening() const {
    return port_ != 0;
}

std::string DroppingHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void DroppingHttpServer::Stop() {
    stopping_ = true;
    const std::uintptr_t client = client_.load();
    if (client != kNone)
        shutdown(AsSocket(client), kShutBoth);
    // A connection of our own wakes the thread at once from its wait for the next one.
    SOCKET wake = INVALID_SOCKET;
    if (thread_.joinable()) {
        wake = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port_);
        if (wake != INVALID_SOCKET)
            connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        thread_.join();
    }
    if (wake != INVALID_SOCKET)
        CloseSocket(wake);
    if (AsSocket(listener_) != INVALID_SOCKET) {
        CloseSocket(AsSocket(listener_));
        listener_ = static_cast<std::uintptr_t>(INVALID_SOCKET);
    }
}

void DroppingHttpServer::Run() {
    while (!stopping_) {
        if (!Readable(AsSocket(listener_)))
            continue;
        const SOCKET client = accept(AsSocket(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        client_ = static_cast<std::uintptr_t>(client);
        ++connections_;
        if (!stopping_)
            Serve(static_cast<std::uintptr_t>(client));
        client_ = kNone;
        CloseSocket(client);
    }
}

void DroppingHttpServer::Serve(std::uintptr_t handle) {
    const SOCKET client = AsSocket(handle);
    // The whole request first: closing with unread bytes would reset on its own.
    std::string request;
    char buffer[4096];
    while (!stopping_ && request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (!Readable(client))
            continue;
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    if (stopping_ || !SendAll(client, answer_.data(), cut_))
        return;
    if (drop_ == Drop::kClose) {
        shutdown(client, kShutSend);
        return;
    }
    AwaitTakenIn(client);
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
}
