#include "CommandInterruption.h"

#include <chrono>
#include <thread>

#include "foundation/TessalyError.h"

namespace tessaly {

CommandInterruption::Catching::Catching(CommandInterruption& owner) : owner_(owner) {
    owner_.signals_ = std::make_unique<TerminationSignalPipe>();
}

CommandInterruption::Catching::~Catching() {
    owner_.signals_.reset();
}

void CommandInterruption::sleep(double seconds) {
    // Without caught signals (the window's operations, which Quit waits for) this is a plain sleep.
    if (!signals_) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return;
    }
    if (!interrupted_) interrupted_ = signals_->waitFor(seconds);
    if (interrupted_) throw TessalyError("The operation was interrupted.");
}

}  // namespace tessaly
