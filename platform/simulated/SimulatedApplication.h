#pragma once

#include "ports/Application.h"
#include "ports/RunLoop.h"

namespace tessaly {

/// An application that is its main run loop: running it tells the delegate that it finished
/// launching on the loop's first turn, and terminating it stops the loop, so that the run returns
/// where a Mac would end the process.
class SimulatedApplication : public Application {
public:
    explicit SimulatedApplication(RunLoop& runLoop) : runLoop_(runLoop) {}

    void runAsAccessory(ApplicationDelegate& delegate) override;
    void terminate() override;

    /// How often the application was terminated.
    int terminations() const { return terminations_; }

private:
    RunLoop& runLoop_;
    int terminations_ = 0;
};

}  // namespace tessaly
