#include "HelperPlatform.h"

#include <cstdio>
#include <cstdlib>

namespace tessaly {

HelperPlatform::HelperPlatform(Log& log_)
    : log(log_), runLoop(), ports(RuntimeDirectory::forCurrentUser(), runLoop, log_) {}

MuteServicePlatform HelperPlatform::muteServicePlatform() {
    return MuteServicePlatform{audio,
                               desktop,
                               workspace,
                               runLoop,
                               ports,
                               log,
                               [this] { return process.processID(); },
                               [](int status) {
                                   std::fflush(nullptr);
                                   std::_Exit(status);
                               }};
}

}  // namespace tessaly
