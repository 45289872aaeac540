// A loopback HTTP server for the loop tests that timestamps every request, serves connections side
// by side, and answers each with a time page whose date names the request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/seam.h"
#include "tests/loop/loop_test_support.h"
#include "tests/support/loopback_socket.h"

struct TimedRequest {
    std::uint64_t index = 0;  // order of arrival, from 0; also the date its page names
    long run = -1;            // the number after "run=" in the request's target; -1 without one
    LoopClock::time_point accepted;                 // the connection taken
    LoopClock::time_point received;                 // the request's blank line read
    std::optional<LoopClock::time_point> answered;  // the whole answer sent and the sending closed
};

// The time page for request `index`: six fields whose date counts `index` seconds from
// 2001-01-01 00:00:00 in months of 28 days, so every request's page names another date.
std::string PageForRequest(std::uint64_t index);
// The request a clock request came from, read back from the date of its page; none for any other.
std::optional<std::uint64_t> RequestOfClockRequest(const SYSTEMTIME& t);

class TimedHttpServer {
public:
    TimedHttpServer();  // answers at once
    ~TimedHttpServer();
    TimedHttpServer(const TimedHttpServer&) = delete;
    TimedHttpServer& operator=(const TimedHttpServer&) = delete;

    // "http://127.0.0.1:<port>/time15.asp", with "?run=<run>" when run is 0 or more.
    std::string Url(long run = -1) const;

    // How the requests that arrive from now on are answered.
    void AnswerAtOnce();
    void AnswerAfter(std::chrono::milliseconds delay);
    void NeverAnswer();  // read the request, then stay silent until the client goes

    std::vector<TimedRequest> Requests() const;
    std::size_t RequestCount() const;
    // Requests of `run` so far, and whether the first of them has been answered.
    std::size_t RunRequestCount(long run) const;
    bool RunAnswered(long run) const;

    // Closes every connection, ends every thread of the server. Called by the destructor.
    void Stop();

private:
    struct Connection {
        OwnedSocket socket;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void Accept();
    void Serve(Connection& connection, LoopClock::time_point accepted);
    void ReapFinished();

    OwnedSocket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<long> delay_ms_{0};  // -1: never answer
    mutable std::mutex guard_;
    std::vector<TimedRequest> requests_;
    std::list<Connection> connections_;
    std::thread acceptor_;
};
