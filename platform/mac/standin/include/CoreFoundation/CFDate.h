#pragma once
// Stand-in for <CoreFoundation/CFDate.h> on Linux: the time interval type, which Apple declares here
// and the message ports' timeouts use.

#include <CoreFoundation/CFBase.h>

typedef double CFTimeInterval;
