#pragma once

#include "ports/Accessibility.h"
#include "ports/Application.h"
#include "ports/Log.h"
#include "ports/ProcessEnvironment.h"
#include "ports/RunLoop.h"
#include "ports/Workspace.h"

namespace tessaly {

/// The helper's own way of asking for Accessibility trust. It runs only in a process that was
/// opened as the Tessaly application, so that the user never authorizes a terminal instead.
namespace AccessibilityAuthorization {

struct Platform {
    ProcessEnvironment& process;
    Application& application;
    Accessibility& accessibility;
    Workspace& workspace;
    RunLoop& runLoop;
    Log& log;
};

/// Checks how the process was opened, then runs as an accessory application that prompts and waits
/// for trust (at most 120 seconds) and terminates, whether trust was granted or not; throws
/// TessalyError when the process was not opened as the application, before anything is shown.
void run(const Platform& platform);

}  // namespace AccessibilityAuthorization

}  // namespace tessaly
