#pragma once
// Stand-in for <AppKit/AppKit.h> on Linux (Objective-C++ only): the umbrella header, including the
// headers Apple declares the classes the Mac adapters use in.

#import <AppKit/NSApplication.h>
#import <AppKit/NSRunningApplication.h>
#import <AppKit/NSWorkspace.h>
