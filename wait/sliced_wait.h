// The sliced wait: sleeps in 15 ms slices and drains the thread's queue after each.
#pragma once

#include <cstdint>

// The length of one slice, in milliseconds. Durations below it take a single sleep.
inline constexpr std::int32_t kSliceMilliseconds = 15;

// How a duration of kSliceMilliseconds or more is cut: at most `budget` slices of 15 ms, then,
// only if the tick counter still shows less than the duration, one sleep of `remainder`.
struct SlicePlan {
    std::int32_t budget;
    std::int32_t remainder;
};

constexpr SlicePlan PlanSlices(std::int32_t duration) {
    return {duration / kSliceMilliseconds, duration % kSliceMilliseconds};
}

// Holds the calling thread for `duration` milliseconds, pumping its queue after every sleep.
// Below 15 ms: one sleep and one pump (a negative duration waits like 0). From 15 ms: slices of
// 15 ms until the tick counter shows the duration or the budget is used up, plus the remainder
// in the second case. Returns after the first pump that finds the thread's stop signal set.
void WaitMilliseconds(std::int32_t duration);
