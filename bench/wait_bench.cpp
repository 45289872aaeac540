// The sliced wait's accuracy: how far past the asked 800 ms each of 200 waits returns; and what the
// waits cost in CPU, beside the bare 15 ms sleep that every slice is made of.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/seam.h"
#include "wait/sliced_wait.h"

namespace {

// CPU time of the calling thread, in microseconds.
double ThreadCpuMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
    const int waits = argc > 1 ? std::atoi(argv[1]) : 200;
    const int duration = argc > 2 ? std::atoi(argv[2]) : 800;
    if (waits < 1) {
        std::fprintf(stderr, "waits must be at least 1\n");
        return 2;
    }
    std::vector<double> overshoot;
    const double cpu_start = ThreadCpuMicroseconds();
    for (int i = 0; i < waits; ++i) {
        const auto start = std::chrono::steady_clock::now();
        WaitMilliseconds(duration);
        const double elapsed =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        overshoot.push_back(elapsed - duration);
    }
    const double cpu_per_wait = (ThreadCpuMicroseconds() - cpu_start) / waits;
    // The platform's Sleep alone, as many times as a wait of this length has slices.
    const int sleeps = 200;
    const double sleep_start = ThreadCpuMicroseconds();
    for (int i = 0; i < sleeps; ++i)
        Sleep(kSliceMilliseconds);
    const double cpu_per_sleep = (ThreadCpuMicroseconds() - sleep_start) / sleeps;
    std::sort(overshoot.begin(), overshoot.end());
    const auto at = [&](double share) {
        return overshoot[static_cast<std::size_t>(share * static_cast<double>(waits - 1))];
    };
    std::printf("waits=%d\nduration_ms=%d\n", waits, duration);
    std::printf("min_overshoot_ms=%.3f\nmedian_overshoot_ms=%.3f\np90_overshoot_ms=%.3f\n",
                overshoot.front(), at(0.5), at(0.9));
    std::printf("worst_overshoot_ms=%.3f\n", overshoot.back());
    std::printf("cpu_per_wait_us=%.1f\ncpu_per_slice_sleep_us=%.1f\n", cpu_per_wait, cpu_per_sleep);
    return 0;
}
