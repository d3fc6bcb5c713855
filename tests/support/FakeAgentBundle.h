#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/TemporaryDirectory.h"

namespace tessaly::testing {

/// A tiny application bundle for the login-item stand-in. Its agent definition runs
/// Contents/MacOS/fake-helper with the argument "run", like the real one runs tessaly-helper. The
/// script logs "start <pid> <nanoseconds> <arguments>", then follows the line of its plan for this
/// start: a number is an exit status to exit with at once, "die" kills itself with SIGKILL,
/// "ignore-term" lives on deaf to SIGTERM, and "stay" (or no line left) logs "ready <pid>" and lives until
/// SIGTERM, then logs "stop <pid>" and exits 0.
class FakeAgentBundle {
public:
    static constexpr const char* plistName = "com.orvanne.tessaly.agent.plist";

    /// One logged start.
    struct Start {
        pid_t pid = 0;
        long long nanoseconds = 0;
        std::string arguments;
    };

    FakeAgentBundle(const std::string& folder, const std::vector<std::string>& plan)
        : path_(folder + "/Tessaly.app"), log_(folder + "/starts.log"), plan_(folder + "/plan") {
        std::string planText;
        for (const auto& line : plan) planText += line + "\n";
        writeFile(plan_, planText);
        writeFile(log_, "");
        writeFile(program(), script());
        ::chmod(program().c_str(), 0755);
        writeDefinition(definition("Contents/MacOS/fake-helper"));
    }

    /// The bundle folder, ".../Tessaly.app".
    const std::string& path() const { return path_; }
    /// The script the agent definition names.
    std::string program() const { return path_ + "/Contents/MacOS/fake-helper"; }
    /// Contents/Library/LaunchAgents/<plistName>.
    std::string definitionPath() const { return path_ + "/Contents/Library/LaunchAgents/" + plistName; }
    /// Replaces the agent definition with `bytes`.
    void writeDefinition(const std::string& bytes) const { writeFile(definitionPath(), bytes); }

    /// An agent definition like the bundle's own, with another BundleProgram.
    static std::string definition(const std::string& bundleProgram) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n<key>Label</key><string>com.orvanne.tessaly.agent</string>\n<key>BundleProgram</key><string>" +
               bundleProgram + "</string>\n<key>ProgramArguments</key><array><string>" + bundleProgram +
               "</string><string>run</string></array>\n<key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict>\n</dict>\n</plist>\n";
    }

    /// Every start logged so far.
    std::vector<Start> starts() const {
        std::vector<Start> result;
        std::istringstream lines(readFile(log_));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string word;
            Start start;
            if (!(fields >> word >> start.pid) || word != "start") continue;
            fields >> start.nanoseconds;
            std::getline(fields >> std::ws, start.arguments);
            result.push_back(start);
        }
        return result;
    }

    /// Whether the start with `pid` is waiting for SIGTERM, its handler in place.
    bool ready(pid_t pid) const {
        return readFile(log_).find("ready " + std::to_string(pid) + "\n") != std::string::npos;
    }

    /// Whether the start with `pid` logged that it stopped on SIGTERM.
    bool stopped(pid_t pid) const {
        return readFile(log_).find("stop " + std::to_string(pid) + "\n") != std::string::npos;
    }

private:
    std::string script() const {
        return "#!/bin/sh\nlog='" + log_ +
               "'\necho \"start $$ $(date +%s%N) $*\" >> \"$log\"\ncount=$(grep -c '^start ' \"$log\")\nplan=$(sed -n \"${count}p\" '" +
               plan_ +
               "')\ncase \"$plan\" in\n    ''|stay) ;;\n    ignore-term) trap '' TERM; exec sleep 300 ;;\n    die) kill -KILL $$ ;;\n    *) exit \"$plan\" ;;\nesac\ntrap 'kill \"$sleeper\" 2>/dev/null; echo \"stop $$\" >> \"$log\"; exit 0' TERM\necho \"ready $$\" >> \"$log\"\nwhile :; do\n    sleep 30 &\n    sleeper=$!\n    wait \"$sleeper\"\ndone\n";
    }

    std::string path_;
    std::string log_;
    std::string plan_;
};

}  // namespace tessaly::testing
