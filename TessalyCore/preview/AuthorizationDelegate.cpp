#include "preview/AuthorizationDelegate.h"

namespace tessaly {

AuthorizationDelegate::AuthorizationDelegate(Application& application, Accessibility& accessibility,
                                             Workspace& workspace, RunLoop& runLoop, Log& log)
    : application_(application),
      accessibility_(accessibility),
      workspace_(workspace),
      runLoop_(runLoop),
      log_(log),
      deadline_(runLoop.now() + waitLimit) {}

void AuthorizationDelegate::applicationDidFinishLaunching() {
    const bool trusted = accessibility_.isProcessTrustedWithOptions(true);
    if (!trusted && !workspace_.openURL(settingsURL)) {
        log_.write(
            "authorization", LogLevel::error,
            "Cannot open Accessibility settings. Open System Settings > Privacy & Security > Accessibility manually.");
    }
    waitForPermission();
}

void AuthorizationDelegate::waitForPermission() {
    if (accessibility_.isProcessTrusted() || runLoop_.now() >= deadline_) {
        application_.terminate();
        return;
    }
    runLoop_.postAfter(1, [this] { waitForPermission(); });
}

}  // namespace tessaly
