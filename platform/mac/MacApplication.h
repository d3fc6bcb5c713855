#pragma once

#include "ports/Application.h"

namespace tessaly {

/// The process as an application over AppKit's shared NSApplication (Objective-C++). Its delegate is
/// an Objective-C object of ours that forwards applicationDidFinishLaunching: to the port's delegate
/// and lives as long as the run, since NSApplication does not keep its delegate.
class MacApplication : public Application {
public:
    void runAsAccessory(ApplicationDelegate& delegate) override;
    void terminate() override;
};

}  // namespace tessaly
