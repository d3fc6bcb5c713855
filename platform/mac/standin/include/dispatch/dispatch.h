#pragma once
// Stand-in for <dispatch/dispatch.h> on Linux: the umbrella over the split headers, as Apple's
// includes them; platform/mac/standin runs the main queue and its sources on a simulated run loop,
// whose clock dispatch_time counts from.

#include <os/availability.h>
#include <stdint.h>

#include <dispatch/base.h>
#include <dispatch/object.h>
#include <dispatch/queue.h>
#include <dispatch/source.h>
#include <dispatch/time.h>
