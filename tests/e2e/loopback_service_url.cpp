// The end-to-end build's SyncServiceUrl: the loopback time service the test started, never more.
#include "tests/e2e/loopback_service_url.h"

#include <cstdlib>
#include <string_view>

#include "sync/sync_loop.h"

namespace {

bool IsDigits(std::string_view text, std::size_t most) {
    if (text.empty() || text.size() > most)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool IsPort(std::string_view text) {
    if (!IsDigits(text, 5))
        return false;
    unsigned value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value >= 1 && value <= 65535;
}

// Four decimal parts of at most three digits and at most 255, the first exactly "127": however
// the resolver reads the other three, the address stays inside 127.0.0.0/8. Names are refused,
// since a hosts file or DNS could send them anywhere.
bool IsLoopbackIpv4(std::string_view host) {
    int parts = 0;
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        if (!IsDigits(part, 3) || std::atoi(std::string(part).c_str()) > 255)
            return false;
        if (parts == 0 && part != "127")
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        host.remove_prefix(dot + 1);
    }
    return parts == 4;
}

}  // namespace

bool IsLoopbackUrl(const TextValue& url) {
    constexpr std::string_view kScheme = "http://";
    const std::string_view text(url);
    if (!text.starts_with(kScheme))
        return false;
    std::string_view authority = text.substr(kScheme.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    std::string_view host = authority;
    std::string_view port;
    bool has_port = false;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            has_port = true;
            port = after.substr(1);
        }
        if (host != "[::1]")
            return false;
    } else {
        const std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            has_port = true;
            port = authority.substr(colon + 1);
        }
        if (!IsLoopbackIpv4(host))
            return false;
    }
    return !has_port || IsPort(port);
}

// Without a loopback address the loop has no address at all: every fetch gives an empty body.
TextValue SyncServiceUrl() {
    const char* url = std::getenv(LoopbackServiceUrlVariable);
    if (url == nullptr || !IsLoopbackUrl(url))
        return TextValue();
    return url;
}
