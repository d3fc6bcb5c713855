#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ports/Log.h"

namespace tessaly {

/// The helper's command line: recognises the command, runs it, prints its output, and turns
/// any failure into one "Tessaly: " line on standard error and exit status 1.
class HelperCommandLine {
public:
    HelperCommandLine(Log& log, std::ostream& out, std::ostream& err) : log_(log), out_(out), err_(err) {}

    /// Runs the command named by `arguments` (program name removed); returns the exit status.
    int run(const std::vector<std::string>& arguments);

private:
    void perform(const std::vector<std::string>& arguments);
    int fail(const std::vector<std::string>& arguments, const std::string& description);

    Log& log_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace tessaly
