// Sockets on 127.0.0.1 for the test servers, behind plain functions: BSD on Linux, Winsock on
// Windows.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

// A socket as both platforms can hold it: an int descriptor on Linux, a SOCKET on Windows.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

void CloseSocket(SocketHandle s);

// Owns one socket and closes it when it goes.
class OwnedSocket {
public:
    OwnedSocket() = default;
    explicit OwnedSocket(SocketHandle s) : socket_(s) {}
    ~OwnedSocket() { Close(); }
    OwnedSocket(OwnedSocket&& other) noexcept : socket_(std::exchange(other.socket_, kNoSocket)) {}
    OwnedSocket& operator=(OwnedSocket&& other) noexcept {
        if (this != &other) {
            Close();
            socket_ = std::exchange(other.socket_, kNoSocket);
        }
        return *this;
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;

    SocketHandle Get() const { return socket_; }
    bool Valid() const { return socket_ != kNoSocket; }
    void Close() {
        if (socket_ != kNoSocket)
            CloseSocket(std::exchange(socket_, kNoSocket));
    }

private:
    SocketHandle socket_ = kNoSocket;
};

// A listening socket on 127.0.0.1 and an ephemeral port, which `port` receives; none (and `port`
// untouched) when any step fails.
OwnedSocket ListenOnLoopback(int backlog, std::uint16_t& port);
// A socket connected (or trying to connect) to 127.0.0.1:`port`; none when no socket could be made.
OwnedSocket ConnectToLoopback(std::uint16_t port);
// The next connection on `listener` if one arrives within `wait`; none otherwise.
OwnedSocket AcceptWithin(SocketHandle listener, std::chrono::milliseconds wait);

// Whether `s` becomes readable within `wait`: the servers poll so that a stop is seen quickly.
bool Readable(SocketHandle s, std::chrono::milliseconds wait);
// What recv returns: the bytes read, 0 at the peer's orderly close, below 0 on an error.
int Receive(SocketHandle s, char* buffer, std::size_t size);
// Every byte or false; a client that has gone fails the send instead of raising a signal.
bool SendAll(SocketHandle s, const char* data, std::size_t size);

void ShutdownSend(SocketHandle s);
// Both directions: wakes a send or a receive blocked on `s` from another thread.
void ShutdownBoth(SocketHandle s);
// Makes the close that follows an abortive one (RST).
void ResetOnClose(SocketHandle s);
// Until the peer has acknowledged every byte sent, so a reset cannot overtake them (at most a
// second). Linux counts them for us; elsewhere a pause on loopback does.
void AwaitTakenIn(SocketHandle s);
