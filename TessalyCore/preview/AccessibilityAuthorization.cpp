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
    AuthorizationDelegate delegate(platform.application, platform.accessibility, platform.workspace,
                                   platform.runLoop, platform.log);
    platform.application.runAsAccessory(delegate);
}

}  // namespace tessaly::AccessibilityAuthorization
