// The address every synchronisation thread fetches, alone in its file so a test can replace it.
#include "sync/sync_loop.h"

TextValue SyncServiceUrl() {
    return TimeServiceUrl;
}
