#include "simulated/SimulatedApplication.h"

namespace tessaly {

void SimulatedApplication::runAsAccessory(ApplicationDelegate& delegate) {
    runLoop_.post([&delegate] { delegate.applicationDidFinishLaunching(); });
    runLoop_.run();
}

void SimulatedApplication::terminate() {
    ++terminations_;
    runLoop_.stop();
}

}  // namespace tessaly
