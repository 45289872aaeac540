// End to end: the nginx time service on loopback, fetched by HttpGetBody, gives the six fields of
// its clock in the fixture's zone, within two seconds of this machine's clock.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "sync/extract.h"
#include "sync/http_get.h"

namespace {

// Days from 1970-01-01 to the given civil date, proleptic Gregorian.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

TEST(TimeServiceTest, PageGivesTheServersClockInItsZone) {
    std::ifstream port_file(TOCKMERE_TIME_SERVICE_STATE "/port");
    std::string port;
    ASSERT_TRUE(std::getline(port_file, port)) << "the time_service fixture has not started";

    const ByteBuffer body = HttpGetBody("http://127.0.0.1:" + port + "/time15.asp");
    const std::time_t now = std::time(nullptr);
    const TextValue page(body.begin(), body.end());
    SCOPED_TRACE(page);
    ASSERT_EQ(page.rfind("nyear=", 0), 0u);
    ASSERT_EQ(page.back(), ';');

    const char* keys[] = {"nyear=", "nmonth=", "nday=", "nhrs=", "nmin=", "nsec="};
    std::int64_t fields[6] = {};
    for (int i = 0; i < 6; ++i) {
        const TextValue value = ExtractBetween(page, keys[i], ";");
        ASSERT_FALSE(value.empty()) << keys[i];
        ASSERT_EQ(value.find_first_not_of("0123456789"), std::string::npos) << keys[i];
        ASSERT_TRUE(value.size() == 1 || value[0] != '0') << keys[i] << " has a leading zero";
        fields[i] = std::strtoll(value.c_str(), nullptr, 10);
    }
    const std::int64_t wall = DaysFromCivil(fields[0], fields[1], fields[2]) * 86400 +
                              fields[3] * 3600 + fields[4] * 60 + fields[5];
    const std::int64_t page_utc = wall - TOCKMERE_TIME_SERVICE_TEST_OFFSET;
    EXPECT_LE(std::llabs(page_utc - static_cast<std::int64_t>(now)), 2)
        << "the page is " << page_utc - static_cast<std::int64_t>(now) << " s off";
}

}  // namespace
