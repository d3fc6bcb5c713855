#pragma once

#include "ports/ProcessEnvironment.h"

namespace tessaly {

/// The running process on Linux. Its main bundle is the `.app` folder three levels above the
/// executable (Tessaly.app/Contents/MacOS/<program>), read from its Contents/Info.plist.
///
/// launchd's part is played by whatever starts a program as an application: it runs the program
/// in a session of its own, without a controlling terminal. Such a process reports its parent as 1,
/// as a process started by launchd does; a process started from a shell reports its real parent.
///
/// The main bundle is found once, when the object is made, as NSBundle.mainBundle is at launch: a
/// bundle moved to the Trash while the program runs is still the one at its old place, never the
/// copy inside the Trash that /proc/self/exe names from then on.
class PosixProcessEnvironment : public ProcessEnvironment {
public:
    PosixProcessEnvironment();

    MainBundle mainBundle() const override;
    ProcessID processID() const override;
    ProcessID parentProcessID() const override;
    std::uint32_t userID() const override;

    /// The main bundle of an executable at `executablePath`.
    static MainBundle bundleOf(const std::string& executablePath);

private:
    MainBundle mainBundle_;
};

}  // namespace tessaly
