// The soak's program: SyncLoop at interval 0 against a time service until it has made a set number
// of passes, with a clock stand-in that counts requests and sets nothing.
//
//   tockmere_soak_loop URL PASSES SAMPLE_EVERY
//
// Every SAMPLE_EVERY passes it writes one line, taken inside the pass at its clock call, when the
// fetch has closed its handles and the pass's texts are still alive, so samples are comparable:
//   sample passes=N rss_kb=R heap_bytes=H fds=F
// and at the end
//   done passes=N refused=N seconds=S
// where refused counts passes whose page did not read as a date (the loop then asks for 1 January
// 100, which no clock takes). scripts/soak.sh judges the samples.
#include <malloc.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/seam.h"
#include "sync/sync_loop.h"

namespace {

std::uint64_t wanted_passes = 0;
std::uint64_t sample_every = 1;
std::atomic<std::uint64_t> passes{0};
std::atomic<std::uint64_t> refused{0};
std::mutex finished_guard;
std::condition_variable finished;

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Open descriptors, the directory's own included (it is there at every sample alike).
long OpenDescriptors() {
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    return error ? -1 : count;
}

void Sample(std::uint64_t pass) {
    std::printf("sample passes=%llu rss_kb=%ld heap_bytes=%zu fds=%ld\n",
                static_cast<unsigned long long>(pass), ResidentKilobytes(), mallinfo2().uordblks,
                OpenDescriptors());
    std::fflush(stdout);
}

bool ReadCount(std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value > 0;
}

}  // namespace

// The clock: counted, never set. Defining it here keeps the Linux layer's SetLocalTime out.
BOOL SetLocalTime(const SYSTEMTIME* lpSystemTime) {
    if (lpSystemTime != nullptr && lpSystemTime->wYear == 100)
        refused.fetch_add(1);
    const std::uint64_t pass = passes.fetch_add(1) + 1;
    if (pass % sample_every == 0)
        Sample(pass);
    if (pass == wanted_passes) {
        std::lock_guard lock(finished_guard);
        finished.notify_all();
    }
    return TRUE;
}

// The interval box, as the loop reads it once per thread.
TextValue ReadIntervalText() { return TextValue("0"); }

int main(int argc, char** argv) {
    if (argc != 4 || !ReadCount(argv[2], wanted_passes) || !ReadCount(argv[3], sample_every)) {
        std::fprintf(stderr, "usage: %s URL PASSES SAMPLE_EVERY\n", argv[0]);
        return 2;
    }
    const TextValue url(argv[1]);
    const auto began = std::chrono::steady_clock::now();
    SyncStop stop;
    std::thread loop([&] { SyncLoop(stop, url); });
    {
        std::unique_lock lock(finished_guard);
        finished.wait(lock, [] { return passes.load() >= wanted_passes; });
    }
    StopSyncLoop(stop);
    loop.join();
    CloseHttpSession();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("done passes=%llu refused=%llu seconds=%.1f\n",
                static_cast<unsigned long long>(passes.load()),
                static_cast<unsigned long long>(refused.load()), seconds);
    return 0;
}
