#pragma once

#include "ports/Workspace.h"
#include "setup/SetupService.h"

namespace tessaly {

/// Opens the setup window: creates the application, shows the window and runs the event loop until
/// the window lets the application quit. Returns the event loop's exit status (0). The caller has
/// already checked that the process was opened as an application.
/// `workspace` reveals the Applications folder for the "Show Applications" button.
int openSetupWindow(SetupService& service, Workspace& workspace, int argc, char** argv);

}  // namespace tessaly
