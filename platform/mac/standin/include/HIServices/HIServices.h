#pragma once
// Stand-in for <HIServices/HIServices.h> on Linux: of HIServices, only Accessibility is used.

#include <HIServices/Accessibility.h>
