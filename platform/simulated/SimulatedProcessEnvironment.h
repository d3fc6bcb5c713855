#pragma once

#include "ports/ProcessEnvironment.h"

namespace tessaly {

/// A process whose bundle, ids and parent a test sets. By default it is the installed application
/// opened by the system: bundle "com.orvanne.tessaly" at /Applications/Tessaly.app, parent 1.
class SimulatedProcessEnvironment : public ProcessEnvironment {
public:
    SimulatedProcessEnvironment() {
        bundle.identifier = "com.orvanne.tessaly";
        bundle.path = "/Applications/Tessaly.app";
        bundle.infoDictionary = {{"CFBundleIdentifier", "com.orvanne.tessaly"},
                                 {"CFBundleExecutable", "Tessaly"}};
    }

    MainBundle mainBundle() const override { return bundle; }
    ProcessID processID() const override { return pid; }
    ProcessID parentProcessID() const override { return parentPID; }
    std::uint32_t userID() const override { return uid; }

    MainBundle bundle;
    ProcessID pid = 4242;
    ProcessID parentPID = 1;
    std::uint32_t uid = 501;
};

}  // namespace tessaly
