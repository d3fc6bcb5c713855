#include "DesktopFixture.h"

#include <exception>
#include <utility>

namespace tessaly::testing {

std::string errorMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

DesktopFixture::DesktopFixture() {
    desktop.launchApplication("com.apple.finder", finder);
}

std::vector<std::string> PreviewControllerFixture::deliveredNotifications() {
    runLoop.runUntilIdle();
    return std::exchange(notifications, {});
}

}  // namespace tessaly::testing
