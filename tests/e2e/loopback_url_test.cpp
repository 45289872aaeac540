// The end-to-end build may reach loopback only: which addresses its URL guard lets through.
#include <gtest/gtest.h>

#include "tests/e2e/loopback_service_url.h"

namespace {

struct UrlCase {
    const char* why;
    const char* url;
    bool taken;
};

constexpr UrlCase kUrlCases[] = {
    {"the test service's address", "http://127.0.0.1:41234/time15.asp", true},
    {"any address of 127/8 is loopback", "http://127.45.6.7/time15.asp", true},
    {"IPv6 loopback with a port", "http://[::1]:8080/time15.asp", true},
    {"no path after the port", "http://127.0.0.1:8080", true},
    {"a query ends the host like a path does", "http://127.0.0.1?x=1", true},
    {"an address of another machine", "http://192.168.1.1/time15.asp", false},
    {"a name: DNS or a hosts file could send it anywhere", "http://localhost/time15.asp", false},
    {"the product's own host name", "http://tockmere-time/time15.asp", false},
    {"user info hides the real host", "http://127.0.0.1@example.com/time15.asp", false},
    {"user info after a port", "http://127.0.0.1:80@example.com/", false},
    {"a backslash before user info", "http://127.0.0.1\\@example.com/", false},
    {"a name that begins like a loopback address", "http://127.0.0.1.example.com/", false},
    {"the short form, read differently by different resolvers", "http://127.1/", false},
    {"octal first part", "http://0177.0.0.1/", false},
    {"a part above 255", "http://127.0.0.256/", false},
    {"an IPv6 address other than loopback", "http://[::2]/", false},
    {"junk after the IPv6 bracket", "http://[::1]x/", false},
    {"an unclosed IPv6 bracket", "http://[::1/", false},
    {"port zero", "http://127.0.0.1:0/", false},
    {"port out of range", "http://127.0.0.1:65536/", false},
    {"an empty port", "http://127.0.0.1:/", false},
    {"another scheme", "https://127.0.0.1/time15.asp", false},
    {"no scheme", "127.0.0.1/time15.asp", false},
    {"empty", "", false},
};

TEST(LoopbackUrlTest, OnlyLoopbackAddressesAreTaken) {
    for (const UrlCase& c : kUrlCases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(IsLoopbackUrl(c.url), c.taken) << c.url;
    }
}

}  // namespace
