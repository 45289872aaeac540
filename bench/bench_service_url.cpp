// The address the benchmark's build of the program fetches: the loopback service that the
// benchmark names in TOCKMERE_BENCH_SERVICE_URL, in place of the product's TimeServiceUrl.
#include <cstdlib>

#include "sync/sync_loop.h"

TextValue SyncServiceUrl() {
    const char* url = std::getenv("TOCKMERE_BENCH_SERVICE_URL");
    return url != nullptr ? TextValue(url) : TextValue();
}
