// The fetch against the loopback time service, interleaved with a plain libcurl loop that makes the
// same HTTP/1.0 GET with the same headers: each one's median and 99th percentile, and their ratio.
// A third loop makes the request on fresh easy and multi handles each time, to show what reusing
// handles saves.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sync/http_get.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

std::size_t Append(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The request that HttpGetBody sends (its client adds the two no-cache headers for
// INTERNET_FLAG_RELOAD), set on `easy`, the body going to `body`. `headers` must outlive it.
curl_slist* SetUpRequest(CURL* easy, const std::string& url, std::string* body) {
    curl_slist* headers = nullptr;
    for (const char* line : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"})
        headers = curl_slist_append(headers, line);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, body);
    return headers;
}

// What a program would write with libcurl alone: one easy handle, reused.
struct PlainCurl {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::string body;

    explicit PlainCurl(const std::string& url) {
        easy = curl_easy_init();
        headers = SetUpRequest(easy, url, &body);
    }
    ~PlainCurl() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
    }
    PlainCurl(const PlainCurl&) = delete;
    PlainCurl& operator=(const PlainCurl&) = delete;

    std::string Fetch() {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK)
            body.clear();
        return body;
    }
};

// The same request on fresh easy and multi handles each time, driven by curl_multi_poll as our
// Linux client drives it.
std::string FreshMultiFetch(const std::string& url) {
    std::string body;
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    curl_slist* headers = SetUpRequest(easy, url, &body);
    curl_multi_add_handle(multi, easy);
    CURLcode result = CURLE_OK;
    for (int running = 1; running > 0;) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE)
                result = message->data.result;
        }
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    return result == CURLE_OK ? body : std::string();
}

bool IsTimePage(const std::string& body) {
    return body.find("nyear=") != std::string::npos && body.find("nsec=") != std::string::npos;
}

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <url> [rounds]\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (rounds < 1) {
        std::fprintf(stderr, "rounds must be at least 1\n");
        return 2;
    }
    const int warm_up = 100;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<double> ours, plain, fresh;
    int failures = 0;
    {
        PlainCurl curl(url);
        auto time_ours = [&] {
            const Clock::time_point start = Clock::now();
            const ByteBuffer body = HttpGetBody(url);
            const double us = Microseconds(Clock::now() - start);
            failures += IsTimePage(std::string(body.begin(), body.end())) ? 0 : 1;
            return us;
        };
        auto time_plain = [&] {
            const Clock::time_point start = Clock::now();
            const std::string body = curl.Fetch();
            const double us = Microseconds(Clock::now() - start);
            failures += IsTimePage(body) ? 0 : 1;
            return us;
        };
        auto time_fresh = [&] {
            const Clock::time_point start = Clock::now();
            const std::string body = FreshMultiFetch(url);
            const double us = Microseconds(Clock::now() - start);
            failures += IsTimePage(body) ? 0 : 1;
            return us;
        };
        for (int i = 0; i < warm_up + rounds; ++i) {
            // The order turns every round, so none of the three always meets a warmer server.
            double a = 0, b = 0, c = 0;
            switch (i % 3) {
                case 0:
                    a = time_ours(), b = time_plain(), c = time_fresh();
                    break;
                case 1:
                    b = time_plain(), c = time_fresh(), a = time_ours();
                    break;
                default:
                    c = time_fresh(), a = time_ours(), b = time_plain();
                    break;
            }
            if (i >= warm_up) {
                ours.push_back(a);
                plain.push_back(b);
                fresh.push_back(c);
            }
        }
    }
    CloseHttpSession();
    curl_global_cleanup();
    const double ours_median = Percentile(ours, 0.5), ours_p99 = Percentile(ours, 0.99);
    const double plain_median = Percentile(plain, 0.5), plain_p99 = Percentile(plain, 0.99);
    std::printf("rounds=%d\nfailures=%d\n", rounds, failures);
    std::printf("ours_median_us=%.1f\nours_p99_us=%.1f\n", ours_median, ours_p99);
    std::printf("curl_median_us=%.1f\ncurl_p99_us=%.1f\n", plain_median, plain_p99);
    std::printf("fresh_multi_median_us=%.1f\nfresh_multi_p99_us=%.1f\n", Percentile(fresh, 0.5),
                Percentile(fresh, 0.99));
    std::printf("ratio_median=%.3f\nratio_p99=%.3f\n", ours_median / plain_median,
                ours_p99 / plain_p99);
    return failures == 0 ? 0 : 1;
}
