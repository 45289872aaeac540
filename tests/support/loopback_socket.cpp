// The test servers' socket plumbing: BSD sockets on Linux, Winsock on Windows.
#include "tests/support/loopback_socket.h"

#include <algorithm>
#include <thread>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
using Socket = SOCKET;
using SocketLength = int;
constexpr int kNoSignal = 0;
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
#else
using Socket = int;
using SocketLength = socklen_t;
constexpr Socket INVALID_SOCKET = -1;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
#endif

Socket AsSocket(SocketHandle s) {
    return static_cast<Socket>(s);
}

SocketHandle AsHandle(Socket s) {
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
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

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

void CloseSocket(SocketHandle s) {
#if defined(_WIN32)
    closesocket(AsSocket(s));
#else
    close(AsSocket(s));
#endif
}

OwnedSocket ListenOnLoopback(int backlog, std::uint16_t& port) {
    StartSockets();
    OwnedSocket owned(AsHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!owned.Valid())
        return owned;
    const Socket s = AsSocket(owned.Get());
    sockaddr_in address = LoopbackAddress(0);
    SocketLength length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(s, backlog) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return OwnedSocket();
    }
    port = ntohs(address.sin_port);
    return owned;
}

OwnedSocket ConnectToLoopback(std::uint16_t port) {
    StartSockets();
    OwnedSocket owned(AsHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (owned.Valid()) {
        const sockaddr_in address = LoopbackAddress(port);
        connect(AsSocket(owned.Get()), reinterpret_cast<const sockaddr*>(&address),
                sizeof(address));
    }
    return owned;
}

bool Readable(SocketHandle s, std::chrono::milliseconds wait) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsSocket(s), &set);
    timeval timeout{static_cast<long>(wait.count() / 1000),
                    static_cast<long>(wait.count() % 1000 * 1000)};
    return select(static_cast<int>(AsSocket(s)) + 1, &set, nullptr, nullptr, &timeout) > 0;
}

OwnedSocket AcceptWithin(SocketHandle listener, std::chrono::milliseconds wait) {
    if (!Readable(listener, wait))
        return OwnedSocket();
    return OwnedSocket(AsHandle(accept(AsSocket(listener), nullptr, nullptr)));
}

int Receive(SocketHandle s, char* buffer, std::size_t size) {
    return recv(AsSocket(s), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
}

bool SendAll(SocketHandle s, const char* data, std::size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 16));
        const int sent = send(AsSocket(s), data, chunk, kNoSignal);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

void ShutdownSend(SocketHandle s) {
    shutdown(AsSocket(s), kShutSend);
}

void ShutdownBoth(SocketHandle s) {
    shutdown(AsSocket(s), kShutBoth);
}

void ResetOnClose(SocketHandle s) {
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    setsockopt(AsSocket(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof(abort));
}

void AwaitTakenIn(SocketHandle s) {
#if defined(_WIN32)
    (void)s;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
#else
    for (int i = 0; i < 1000; ++i) {
        int unacknowledged = 0;
        if (ioctl(AsSocket(s), SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
#endif
}
