#pragma once
// Stand-in for <CoreFoundation/CFAvailability.h> on Linux: the availability macros the stand-in
// framework headers carry as Apple's do. Like API_AVAILABLE they say nothing to the compiler here.

#include <os/availability.h>

#define CF_AVAILABLE_MAC(...)
