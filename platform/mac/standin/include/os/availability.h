#pragma once
// Stand-in for <os/availability.h> on Linux: API_AVAILABLE, which Apple's headers attach to each
// declaration. On Linux there is no deployment target to check, so it says nothing to the compiler.

#define API_AVAILABLE(...)
