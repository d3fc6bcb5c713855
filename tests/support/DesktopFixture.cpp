#include "support/DesktopFixture.h"

#include <exception>
#include <utility>

namespace tessaly::testing {

DesktopFixture::DesktopFixture() {
    desktop.launchApplication("com.apple.finder", finder);
}

std::vector<std::string> PreviewControllerFixture::deliveredNotifications() {
    runLoop.runUntilIdle();
    return std::exchange(notifications, {});
}

}  // namespace tessaly::testing
