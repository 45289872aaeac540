// The scripted test server over raw TCP (see loopback_socket.h), so the same test runs natively
// and, under Wine, against the platform's own HTTP client.
#include "tests/support/scripted_http_server.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr std::chrono::milliseconds kPoll(50);

}  // namespace

std::string ScriptedHead(const std::string& status, const std::string& headers) {
    std::string head = "HTTP/1.0 ";
    head += status;
    head += "\r\n";
    head += headers;
    head += "\r\n";
    return head;
}

HttpScenario ScriptedAnswer(std::string head, std::string body, std::uint64_t body_bytes_sent,
                            HttpEnding ending) {
    HttpScenario scenario;
    scenario.head = std::move(head);
    scenario.body = std::move(body);
    scenario.body_bytes_sent = body_bytes_sent;
    scenario.ending = ending;
    return scenario;
}

HttpScenario ScriptedGeneratedAnswer(std::uint64_t size) {
    std::string headers = "Content-Length: ";
    headers += std::to_string(size);
    headers += "\r\n";
    HttpScenario scenario = ScriptedAnswer(ScriptedHead("200 OK", headers), "");
    scenario.generated_body = size;
    return scenario;
}

HttpScenario ScriptedSilence() {
    HttpScenario scenario;
    scenario.answer = false;
    return scenario;
}

std::uint8_t PatternByte(std::uint64_t index) {
    return static_cast<std::uint8_t>(index % 251 + (index / 251) * 7);
}

ScriptedHttpServer::ScriptedHttpServer(HttpScenario scenario) : scenario_(std::move(scenario)) {
    listener_ = ListenOnLoopback(16, port_);
    if (listener_.Valid())
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
    const SocketHandle client = client_.load();
    if (client != kNoSocket)
        ShutdownBoth(client);
    if (thread_.joinable())
        thread_.join();
    listener_.Close();
}

void ScriptedHttpServer::Run() {
    while (!stopping_) {
        OwnedSocket client = AcceptWithin(listener_.Get(), kPoll);
        if (!client.Valid())
            continue;
        client_ = client.Get();
        if (stopping_)
            ShutdownBoth(client.Get());  // Stop may have looked before we stored it
        Serve(client.Get());
        client_ = kNoSocket;
    }
}

// Until the server stops or the peer goes; false when the server stops.
bool ScriptedHttpServer::Hold(SocketHandle client) {
    char scratch[512];
    while (!stopping_) {
        if (!Readable(client, kPoll))
            continue;
        if (Receive(client, scratch, sizeof(scratch)) <= 0)
            return true;
    }
    return false;
}

void ScriptedHttpServer::Serve(SocketHandle client) {
    std::string request;
    char buffer[4096];
    while (!stopping_ && request.find("\r\n\r\n") == std::string::npos &&
           request.size() < (1 << 20)) {
        if (!Readable(client, kPoll))
            continue;
        const int got = Receive(client, buffer, sizeof(buffer));
        if (got <= 0)
            break;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard lock(guard_);
        requests_.push_back(request);
    }
    if (stopping_ || !scenario_.answer) {
        Hold(client);
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
            ShutdownSend(client);  // the close itself follows in Run
            break;
        case HttpEnding::kReset: {
            // Give the client a moment to take in what was sent, then abort the connection.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ResetOnClose(client);
            break;
        }
        case HttpEnding::kStall:
            Hold(client);
            break;
    }
}

std::uint16_t UnusedLoopbackPort() {
    std::uint16_t port = 0;
    ListenOnLoopback(16, port);  // closed again at once
    return port;
}
