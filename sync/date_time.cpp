// BuildDateTimeText, ParseDateTimeText and SetLocalClock: from the six fields to the clock request.
#include "sync/date_time.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/seam.h"
#include "sync/extract.h"

namespace {

// Code page 936 byte pairs of 年 月 日 时 分 秒, in field order.
constexpr std::string_view kUnits[6] = {"\xC4\xEA", "\xD4\xC2", "\xC8\xD5",
                                        "\xCA\xB1", "\xB7\xD6", "\xC3\xEB"};
constexpr std::size_t kSecondUnit = 5;

constexpr DateTimeValue kLowest = -657434.0;   // 1 January 100, 00:00:00; also the failure value
constexpr DateTimeValue kHighest = 2958465.0;  // 31 December 9999, 00:00:00

// Days from 1 January of year 0 (proleptic, by the count below) to 30 December 1899.
constexpr std::int64_t kDayZeroOffset = 693959;

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool IsDigit(unsigned char byte) {
    return byte >= '0' && byte <= '9';
}

// Whether the unit character of field `field` stands at the cursor.
bool UnitAt(std::string_view text, std::size_t at, std::size_t field) {
    return at + 1 < text.size() && text[at] == kUnits[field][0] && text[at + 1] == kUnits[field][1];
}

// A run of at most `limit` digits at the cursor; no digit reads as 0.
int ReadNumber(std::string_view text, std::size_t& at, int limit) {
    int value = 0;
    for (int digits = 0; digits < limit && at < text.size(); ++digits) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (!IsDigit(byte))
            break;
        value = value * 10 + (byte - '0');
        ++at;
    }
    return value;
}

// At most one separator after field `field` (0 = year): a punctuation byte, a space after the
// day, or the field's own unit character.
void PassSeparator(std::string_view text, std::size_t& at, std::size_t field) {
    if (at >= text.size())
        return;
    const char byte = text[at];
    if (byte == '/' || byte == '-' || byte == ':' || byte == '.' || (field == 2 && byte == ' ')) {
        at += 1;
    } else if (UnitAt(text, at, field)) {
        at += 2;
    }
}

std::int64_t DayNumber(std::int64_t year, int month, int day) {
    std::int64_t d = 365 * year + year / 4 - year / 100 + year / 400 + kDaysBeforeMonth[month - 1] +
                     day - kDayZeroOffset;
    if (month <= 2 && IsLeapYear(year))
        d -= 1;
    return d;
}

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
};

// The inverse of DayNumber in whole-integer steps, counted in 400-year eras from 1 March of
// year 0 so that the leap day falls at the end of each counted year.
CivilDate DateOfDayNumber(std::int64_t day_number) {
    constexpr std::int64_t kDaysPerEra = 146097;
    constexpr std::int64_t kMarchOfYearZeroToDayZero = 693899;  // 1 March 0 to 30 December 1899
    const std::int64_t z = day_number + kMarchOfYearZeroToDayZero;
    const std::int64_t era = (z >= 0 ? z : z - (kDaysPerEra - 1)) / kDaysPerEra;
    const std::int64_t day_of_era = z - era * kDaysPerEra;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 = March
    const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

}  // namespace

TextValue BuildDateTimeText(const TextValue& year, const TextValue& month, const TextValue& day,
                            const TextValue& hour, const TextValue& minute,
                            const TextValue& second) {
    const std::string_view fields[6] = {TextBytes(year), TextBytes(month),  TextBytes(day),
                                        TextBytes(hour), TextBytes(minute), TextBytes(second)};
    std::size_t size = 0;
    for (std::size_t i = 0; i < 6; ++i)
        size += fields[i].size() + kUnits[i].size();
    // Sized once and filled in place: the loop builds one of these on every pass.
    TextValue text(size, '\0');
    char* out = text.data();
    for (std::size_t i = 0; i < 6; ++i) {
        std::memcpy(out, fields[i].data(), fields[i].size());
        out += fields[i].size();
        std::memcpy(out, kUnits[i].data(), kUnits[i].size());
        out += kUnits[i].size();
    }
    return text;
}

DateTimeValue ParseDateTimeText(const TextValue& text) {
    const TextValue folded = ToHalfWidth(text);
    const std::string_view bytes = folded;
    if (bytes.empty())
        return kLowest;

    int numbers[6] = {};
    std::size_t at = 0;
    for (std::size_t field = 0; field < 6; ++field) {
        numbers[field] = ReadNumber(bytes, at, field == 0 ? 4 : 2);
        if (field < kSecondUnit)
            PassSeparator(bytes, at, field);
    }
    // Whatever follows 秒 is not looked at.
    if (at != bytes.size() && !UnitAt(bytes, at, kSecondUnit))
        return kLowest;

    const auto [year, month, day, hour, minute, second] = numbers;
    if (year < 100 || year > 9999 || month < 1 || month > 12)
        return kLowest;
    const int month_length = month == 2 && IsLeapYear(year) ? 29 : kDaysInMonth[month - 1];
    if (day < 1 || day > month_length)
        return kLowest;
    if (hour > 23 || minute > 59 || second > 59)
        return kLowest;

    const auto d = static_cast<double>(DayNumber(year, month, day));
    const double f = 1.0 / 86400.0;  // correctly rounded: the double nearest 1/86400
    const double t = static_cast<double>(3600 * hour + 60 * minute + second) * f;
    return d >= 0 ? d + t : d - t;
}

bool SetLocalClock(DateTimeValue value) {
    // Written so that a NaN, which names no date, takes the lower bound as well.
    if (!(value >= kLowest))
        value = kLowest;
    if (value > kHighest)
        value = kHighest;
    const double half_second = 1.0 / 172800.0;
    const double rounded = value > 0 ? value + half_second : value - half_second;

    auto day_number = static_cast<std::int64_t>(std::trunc(rounded));
    const double magnitude = std::fabs(rounded);
    auto seconds = static_cast<int>((magnitude - std::floor(magnitude)) * 86400.0);
    // Before day zero the time of day counts downward from the integer part, so a half second
    // that carries a time past midnight deepens the integer part: that would name the day before
    // the value's own day. The carry goes to the following day instead.
    if (value < 0 && std::trunc(rounded) != std::trunc(value)) {
        day_number = static_cast<std::int64_t>(std::trunc(value)) + 1;
        seconds = 0;
    }

    const CivilDate date = DateOfDayNumber(day_number);
    // Day 0 is a Saturday (6); 0 is Sunday.
    const std::int64_t weekday = ((day_number % 7) + 7 + 6) % 7;

    SYSTEMTIME request{};
    request.wYear = static_cast<WORD>(date.year);
    request.wMonth = static_cast<WORD>(date.month);
    request.wDayOfWeek = static_cast<WORD>(weekday);
    request.wDay = static_cast<WORD>(date.day);
    request.wHour = static_cast<WORD>(seconds / 3600);
    request.wMinute = static_cast<WORD>(seconds / 60 % 60);
    request.wSecond = static_cast<WORD>(seconds % 60);
    request.wMilliseconds = 0;
    return SetLocalTime(&request) != FALSE;
}
