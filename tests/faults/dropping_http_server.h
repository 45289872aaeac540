// A loopback server that sends the first bytes of an answer and then drops the connection: by an
// orderly close, or by a reset once the client has taken the bytes in.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "tests/support/loopback_socket.h"

enum class Drop {
    kClose,  // FIN after the bytes
    kReset,  // RST after the bytes have reached the client
};

// Serves every connection the same way, on 127.0.0.1 and an ephemeral port, on a thread of its
// own, until it is destroyed.
class DroppingHttpServer {
public:
    DroppingHttpServer(std::string answer, std::size_t cut, Drop drop);
    ~DroppingHttpServer();
    DroppingHttpServer(const DroppingHttpServer&) = delete;
    DroppingHttpServer& operator=(const DroppingHttpServer&) = delete;

    bool Listening() const;
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string Url(const std::string& path) const;
    // Connections served so far.
    int Connections() const { return connections_.load(); }
    // Ends the connection being served and the thread; the destructor does it too.
    void Stop();

private:
    void Run();
    void Serve(SocketHandle client);

    std::string answer_;
    std::size_t cut_;
    Drop drop_;
    OwnedSocket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<SocketHandle> client_{kNoSocket};
    std::atomic<int> connections_{0};
    std::thread thread_;
};
