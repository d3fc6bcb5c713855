#pragma once
// Stand-in for <HIServices/Accessibility.h> on Linux: the Accessibility umbrella, over the two
// headers whose declarations the Mac adapters use.

#include <HIServices/AXError.h>
#include <HIServices/AXUIElement.h>
