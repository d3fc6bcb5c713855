#pragma once

#include "ports/ProcessEnvironment.h"

namespace tessaly {

/// How the running process was started.
namespace ApplicationLaunch {

/// Whether the process runs from the Tessaly application bundle and was opened by the system as
/// an application (launchd is its parent), rather than started from a shell. Accessibility trust
/// and the setup window are only offered to such a process, so that a terminal is never trusted.
bool isOpenedAsApplication(const ProcessEnvironment& process);

/// The extension of a path's last component ("app" for "/Applications/Tessaly.app/").
std::string pathExtension(std::string path);

}  // namespace ApplicationLaunch

}  // namespace tessaly
