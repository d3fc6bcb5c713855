#pragma once
// Stand-in for <ApplicationServices/ApplicationServices.h> on Linux: the umbrella the Mac adapters
// include for Accessibility, which Apple declares in the HIServices subframework.

#include <CoreFoundation/CoreFoundation.h>
#include <HIServices/HIServices.h>
