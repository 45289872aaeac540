// The end-to-end build's time service address: taken from the environment, loopback only.
#pragma once

#include "sync/text_value.h"

// The variable that names the address; only the end-to-end tests and the demo set it.
inline constexpr char LoopbackServiceUrlVariable[] = "TOCKMERE_E2E_URL";

// True for a plain http URL whose host is an address of 127.0.0.0/8 in dotted form or [::1],
// with an optional numeric port: the only addresses this build may ever reach.
bool IsLoopbackUrl(const TextValue& url);
