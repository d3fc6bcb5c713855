#pragma once
// Stand-in for <ServiceManagement/ServiceManagement.h> on Linux (Objective-C++ only): the umbrella
// over SMAppService.h, the one ServiceManagement header the Mac adapter uses.

#import <ServiceManagement/SMAppService.h>
