// The processing cost of one pass without the network: page bytes to the clock request.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "sync/conversions.h"
#include "sync/date_time.h"
#include "sync/extract.h"

namespace {

// The page as the nginx time service serves it.
const std::string kTimePage = "nyear=2026;nmonth=12;nday=11;nhrs=17;nmin=44;nsec=29;";

ByteBuffer PageBytes(const std::string& page) {
    return ByteBuffer(page.begin(), page.end());
}

// Every step of a pass, in the loop's order; the clock request is recorded, then forgotten so the
// record does not grow.
void OnePass(const ByteBuffer& bytes) {
    const TextValue page = BytesToText(bytes);
    const TextValue year = ExtractBetween(page, "nyear=", ";", 0, false);
    const TextValue month = ExtractBetween(page, "nmonth=", ";", 0, false);
    const TextValue day = ExtractBetween(page, "nday=", ";", 0, false);
    const TextValue hour = ExtractBetween(page, "nhrs=", ";", 0, false);
    const TextValue minute = ExtractBetween(page, "nmin=", ";", 0, false);
    const TextValue second = ExtractBetween(page, "nsec=", ";", 0, false);
    const TextValue text = BuildDateTimeText(year, month, day, hour, minute, second);
    const DateTimeValue value = ParseDateTimeText(text);
    benchmark::DoNotOptimize(SetLocalClock(value));
    ClearRecordedClockRequests();
}

void BM_Pass(benchmark::State& state, const std::string& page) {
    const ByteBuffer bytes = PageBytes(page);
    for (auto _ : state)
        OnePass(bytes);
    state.SetItemsProcessed(state.iterations());
}

// The same pass taken apart, to show where its time goes.
void BM_BytesToText(benchmark::State& state) {
    const ByteBuffer bytes = PageBytes(kTimePage);
    for (auto _ : state)
        benchmark::DoNotOptimize(BytesToText(bytes));
}

void BM_SixExtractions(benchmark::State& state) {
    const TextValue page = kTimePage;
    for (auto _ : state) {
        for (const char* key : {"nyear=", "nmonth=", "nday=", "nhrs=", "nmin=", "nsec="})
            benchmark::DoNotOptimize(ExtractBetween(page, key, ";", 0, false));
    }
}

void BM_BuildDateTimeText(benchmark::State& state) {
    const TextValue year = "2026", month = "12", day = "11", hour = "17", minute = "44",
                    second = "29";
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildDateTimeText(year, month, day, hour, minute, second));
}

void BM_ParseDateTimeText(benchmark::State& state) {
    const TextValue text = BuildDateTimeText("2026", "12", "11", "17", "44", "29");
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseDateTimeText(text));
}

void BM_SetLocalClock(benchmark::State& state) {
    const DateTimeValue value =
        ParseDateTimeText(BuildDateTimeText("2026", "12", "11", "17", "44", "29"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetLocalClock(value));
        ClearRecordedClockRequests();
    }
}

void OnePassRecorded(const ByteBuffer& bytes) {
    const TextValue page = BytesToText(bytes);
    const TextValue text = BuildDateTimeText(
        ExtractBetween(page, "nyear=", ";", 0, false),
        ExtractBetween(page, "nmonth=", ";", 0, false),
        ExtractBetween(page, "nday=", ";", 0, false), ExtractBetween(page, "nhrs=", ";", 0, false),
        ExtractBetween(page, "nmin=", ";", 0, false), ExtractBetween(page, "nsec=", ";", 0, false));
    SetLocalClock(ParseDateTimeText(text));
    const std::vector<SYSTEMTIME> requests = RecordedClockRequests();
    if (requests.size() != 1 || requests[0].wYear != 2026 || requests[0].wMonth != 12 ||
        requests[0].wDay != 11 || requests[0].wHour != 17 || requests[0].wMinute != 44 ||
        requests[0].wSecond != 29) {
        std::fprintf(stderr, "the pass did not reach the recording clock as expected\n");
        std::exit(1);
    }
    ClearRecordedClockRequests();
}

}  // namespace

BENCHMARK_CAPTURE(BM_Pass, time_page, kTimePage);
// A failed fetch: the empty page, six empty fields, a text that does not parse.
BENCHMARK_CAPTURE(BM_Pass, empty_page, std::string());
BENCHMARK(BM_BytesToText);
BENCHMARK(BM_SixExtractions);
BENCHMARK(BM_BuildDateTimeText);
BENCHMARK(BM_ParseDateTimeText);
BENCHMARK(BM_SetLocalClock);

// Refuses to measure unless a pass reaches the recording stand-in with the page's time.
int main(int argc, char** argv) {
    ClearRecordedClockRequests();
    OnePassRecorded(PageBytes(kTimePage));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
