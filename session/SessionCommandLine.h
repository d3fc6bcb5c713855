#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tessaly {

/// tessaly-session's command line: `run` serves the session in the foreground until `quit`,
/// SIGTERM or SIGINT; every other word is a command for the running session, sent over its socket,
/// whose output is printed (failures on standard error, "tessaly-session: " first, exit status 1).
class SessionCommandLine {
public:
    SessionCommandLine(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    int run(const std::vector<std::string>& arguments);

private:
    int serve(const std::vector<std::string>& arguments);
    int send(const std::vector<std::string>& arguments);
    int fail(const std::string& message);

    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace tessaly
