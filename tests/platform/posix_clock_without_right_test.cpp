// The real Linux SetLocalTime in a process that has no right to set the clock: refused, and
// the reason given. The request is made only after the right is shown to be gone.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "platform/seam.h"

namespace {

bool HoldsClockRight() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return true;  // unknown: assume the worst
    return (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) != 0 ||
           (data[CAP_TO_INDEX(CAP_SYS_TIME)].permitted & CAP_TO_MASK(CAP_SYS_TIME)) != 0;
}

enum ChildResult { kRefused = 0, kStillHoldsRight = 10, kAccepted = 11, kWrongReason = 12 };

int RequestWithoutTheRight() {
    // A root process loses every capability when it becomes an ordinary user.
    if (HoldsClockRight() && setuid(65534) != 0) return kStillHoldsRight;
    if (HoldsClockRight()) return kStillHoldsRight;
    // Ask for the present time, so that even a broken refusal would not move the clock.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const SYSTEMTIME t{static_cast<WORD>(local.tm_year + 1900), static_cast<WORD>(local.tm_mon + 1),
                       static_cast<WORD>(local.tm_wday),        static_cast<WORD>(local.tm_mday),
                       static_cast<WORD>(local.tm_hour),        static_cast<WORD>(local.tm_min),
                       static_cast<WORD>(local.tm_sec),         0};
    if (SetLocalTime(&t) != FALSE) return kAccepted;
    return GetLastError() == ERROR_PRIVILEGE_NOT_HELD ? kRefused : kWrongReason;
}

TEST(PosixClockWithoutRightTest, IsRefusedWithPrivilegeNotHeld) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(RequestWithoutTheRight());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kRefused);
}

}  // namespace
