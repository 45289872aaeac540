// The dropping server over raw TCP (see loopback_socket.h), so the same test runs natively and,
// under Wine, against the platform's own HTTP client.
#include "tests/faults/dropping_http_server.h"

#include <algorithm>

namespace {

// Every wait of the server is at most this long, so that a stop is seen quickly.
constexpr std::chrono::milliseconds kPoll(20);

}  // namespace

DroppingHttpServer::DroppingHttpServer(std::string answer, std::size_t cut, Drop drop)
    : answer_(std::move(answer)), cut_(std::min(cut, answer_.size())), drop_(drop) {
    listener_ = ListenOnLoopback(16, port_);
    if (listener_.Valid())
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
    const SocketHandle client = client_.load();
    if (client != kNoSocket)
        ShutdownBoth(client);
    // A connection of our own wakes the thread at once from its wait for the next one.
    OwnedSocket wake;
    if (thread_.joinable()) {
        wake = ConnectToLoopback(port_);
        thread_.join();
    }
    wake.Close();
    listener_.Close();
}

void DroppingHttpServer::Run() {
    while (!stopping_) {
        OwnedSocket client = AcceptWithin(listener_.Get(), kPoll);
        if (!client.Valid())
            continue;
        client_ = client.Get();
        ++connections_;
        if (!stopping_)
            Serve(client.Get());
        client_ = kNoSocket;
    }
}

void DroppingHttpServer::Serve(SocketHandle client) {
    // The whole request first: closing with unread bytes would reset on its own.
    std::string request;
    char buffer[4096];
    while (!stopping_ && request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (!Readable(client, kPoll))
            continue;
        const int got = Receive(client, buffer, sizeof(buffer));
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    if (stopping_ || !SendAll(client, answer_.data(), cut_))
        return;
    if (drop_ == Drop::kClose) {
        ShutdownSend(client);
        return;
    }
    AwaitTakenIn(client);
    ResetOnClose(client);
}
