// The timed test server over raw TCP (see loopback_socket.h); one thread takes connections and each
// connection is served on a thread of its own.
#include "tests/loop/timed_http_server.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

constexpr std::uint64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kDaysPerMonth = 28;
constexpr unsigned kFirstYear = 2001;

// Every wait of the server is at most this long, so that a stop is seen quickly.
constexpr std::chrono::milliseconds kPoll(20);

long RunOf(const std::string& request) {
    const std::string line = request.substr(0, request.find("\r\n"));
    const std::size_t at = line.find("run=");
    if (at == std::string::npos)
        return -1;
    return std::strtol(line.c_str() + at + 4, nullptr, 10);
}

}  // namespace

std::string PageForRequest(std::uint64_t index) {
    const std::uint64_t day_count = index / kSecondsPerDay;
    const std::uint64_t month_count = day_count / kDaysPerMonth;
    const std::uint64_t second_of_day = index % kSecondsPerDay;
    char page[160];
    std::snprintf(page, sizeof(page),
                  "<html><body>nyear=%u;nmonth=%u;nday=%u;nhrs=%u;nmin=%u;nsec=%u;</body></html>",
                  static_cast<unsigned>(kFirstYear + month_count / 12),
                  static_cast<unsigned>(1 + month_count % 12),
                  static_cast<unsigned>(1 + day_count % kDaysPerMonth),
                  static_cast<unsigned>(second_of_day / 3600),
                  static_cast<unsigned>(second_of_day / 60 % 60),
                  static_cast<unsigned>(second_of_day % 60));
    return page;
}

std::optional<std::uint64_t> RequestOfClockRequest(const SYSTEMTIME& t) {
    if (t.wYear < kFirstYear || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > kDaysPerMonth || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59) {
        return std::nullopt;
    }
    const std::uint64_t months = (t.wYear - kFirstYear) * 12u + (t.wMonth - 1u);
    const std::uint64_t days = months * kDaysPerMonth + (t.wDay - 1u);
    return days * kSecondsPerDay + t.wHour * 3600u + t.wMinute * 60u + t.wSecond;
}

TimedHttpServer::TimedHttpServer() {
    listener_ = ListenOnLoopback(64, port_);
    if (listener_.Valid())
        acceptor_ = std::thread([this] { Accept(); });
}

TimedHttpServer::~TimedHttpServer() {
    Stop();
}

std::string TimedHttpServer::Url(long run) const {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/time15.asp";
    if (run >= 0)
        url += "?run=" + std::to_string(run);
    return url;
}

void TimedHttpServer::AnswerAtOnce() {
    delay_ms_ = 0;
}
void TimedHttpServer::AnswerAfter(std::chrono::milliseconds delay) {
    delay_ms_ = static_cast<long>(delay.count());
}
void TimedHttpServer::NeverAnswer() {
    delay_ms_ = -1;
}

std::vector<TimedRequest> TimedHttpServer::Requests() const {
    std::lock_guard lock(guard_);
    return requests_;
}

std::size_t TimedHttpServer::RequestCount() const {
    std::lock_guard lock(guard_);
    return requests_.size();
}

std::size_t TimedHttpServer::RunRequestCount(long run) const {
    std::lock_guard lock(guard_);
    std::size_t count = 0;
    for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
        if (it->run == run)
            ++count;
    }
    return count;
}

bool TimedHttpServer::RunAnswered(long run) const {
    std::lock_guard lock(guard_);
    for (const TimedRequest& request : requests_) {
        if (request.run == run)
            return request.answered.has_value();
    }
    return false;
}

void TimedHttpServer::Stop() {
    stopping_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    std::list<Connection> left;
    {
        std::lock_guard lock(guard_);
        left.swap(connections_);
    }
    for (Connection& connection : left) {
        if (connection.thread.joinable())
            connection.thread.join();
    }
    listener_.Close();
}

void TimedHttpServer::Accept() {
    const SocketHandle listener = listener_.Get();
    while (!stopping_) {
        ReapFinished();
        OwnedSocket client = AcceptWithin(listener, kPoll);
        if (!client.Valid())
            continue;
        const auto accepted = LoopClock::now();
        std::lock_guard lock(guard_);
        Connection& connection = connections_.emplace_back();
        connection.socket = std::move(client);
        connection.thread = std::thread([this, &connection, accepted] {
            Serve(connection, accepted);
            connection.socket.Close();
            connection.done = true;
        });
    }
}

void TimedHttpServer::ReapFinished() {
    std::list<Connection> finished;
    {
        std::lock_guard lock(guard_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            const auto next = std::next(it);
            if (it->done)
                finished.splice(finished.end(), connections_, it);
            it = next;
        }
    }
    for (Connection& connection : finished)
        connection.thread.join();
}

void TimedHttpServer::Serve(Connection& connection, LoopClock::time_point accepted) {
    const SocketHandle client = connection.socket.Get();
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (stopping_ || request.size() > 65536)
            return;
        if (!Readable(client, kPoll))
            continue;
        const int got = Receive(client, buffer, sizeof(buffer));
        if (got <= 0)
            return;  // the client went before its request was complete: nothing arrived
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const long delay = delay_ms_.load();
    std::size_t index = 0;
    {
        std::lock_guard lock(guard_);
        index = requests_.size();
        requests_.push_back({index, RunOf(request), accepted, LoopClock::now(), std::nullopt});
    }

    const auto client_gone = [&] {
        if (!Readable(client, kPoll))
            return false;
        return Receive(client, buffer, sizeof(buffer)) <= 0;
    };
    if (delay < 0) {
        while (!stopping_ && !client_gone()) {
        }
        return;
    }
    const auto answer_at = LoopClock::now() + std::chrono::milliseconds(delay);
    while (LoopClock::now() < answer_at) {
        if (stopping_)
            return;
        std::this_thread::sleep_for(std::min<LoopClock::duration>(answer_at - LoopClock::now(),
                                                                  std::chrono::milliseconds(5)));
    }

    const std::string body = PageForRequest(index);
    const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body;
    if (!SendAll(client, answer.data(), answer.size()))
        return;
    ShutdownSend(client);
    {
        std::lock_guard lock(guard_);
        requests_[index].answered = LoopClock::now();
    }
    // Until the client has read the answer and closed its side, or a few seconds at most.
    const auto give_up = LoopClock::now() + std::chrono::seconds(3);
    while (!stopping_ && LoopClock::now() < give_up && !client_gone()) {
    }
}
