#include "preview/AccessibilityAuthorization.h"

#include "foundation/TessalyError.h"
#include "preview/ApplicationLaunch.h"
#include "preview/AuthorizationDelegate.h"

namespace tessaly::AccessibilityAuthorization {

void run(const Platform& platform) {
    if (!ApplicationLaunch::isOpenedAsApplication(platform.process)) {
        throw TessalyError(
            "Open Tessaly as an application with 'tessaly authorize'; do not authorize the terminal.");
    }
    AuthorizationDelegate delegate(platform.accessibility, platform.workspace, platform.runLoop,
                                   platform.log);
    platform.runLoop.post([&delegate] { delegate.applicationDidFinishLaunching(); });
    platform.runLoop.run();
}

}  // namespace tessaly::AccessibilityAuthorization
