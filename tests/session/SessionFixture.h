#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/ProcessRunner.h"
#include "support/RealProcesses.h"
#include "support/TemporaryDirectory.h"
#include "support/UserFixture.h"

namespace tessaly::testing {

/// A tessaly-session of its own (isolated home and runtime folder) with the built executables
/// running against it, acted on through the session's command line as the user would.
class SessionFixture : public UserFixture {
protected:
    SessionFixture() {
        sessionPid = runner.start(TESSALY_SESSION_PATH, {"run"}, home / "session.out", home / "session.err");
        if (!eventually([&] { return session({"state"}).exitStatus == 0; }))
            ADD_FAILURE() << "the session did not start: " << readFile(home / "session.err");
    }

    ~SessionFixture() override {
        if (std::filesystem::exists(installedApp())) runner.run(installedApp(), {"disable"});
        if (helperPid > 0 && !ProcessRunner::waitFor(helperPid, 0)) {
            ::kill(helperPid, SIGKILL);
            ProcessRunner::waitFor(helperPid, 5);
        }
        session({"quit"});
        if (!ProcessRunner::waitFor(sessionPid, 5)) {
            ::kill(sessionPid, SIGKILL);
            ProcessRunner::waitFor(sessionPid, 5);
        }
    }

    ProcessResult session(const std::vector<std::string>& arguments, double timeoutSeconds = 20) const {
        return runner.run(TESSALY_SESSION_PATH, arguments, timeoutSeconds);
    }
    /// Runs a session command that must succeed; its output.
    std::string act(const std::vector<std::string>& arguments) const {
        const auto result = session(arguments);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return result.out;
    }
    /// Opens a preview as the user; its number (0 when the command failed).
    int open(std::vector<std::string> arguments, std::string* report = nullptr) const {
        arguments.insert(arguments.begin(), "open");
        const std::string out = act(arguments);
        if (report) *report = out;
        std::smatch number;
        return std::regex_search(out, number, std::regex("^Preview ([0-9]+) ")) ? std::stoi(number[1]) : 0;
    }

    /// Installs the built bundle for the user and enables it: the login item starts the helper.
    void installAndEnable() const {
        install();
        const auto enable = runner.run(installedApp(), {"enable"}, 30);
        ASSERT_EQ(enable.exitStatus, 0) << enable.err;
    }
    /// Starts the built helper with `run` and waits until its status port answers.
    void startHelper() {
        helperPid = runner.start(TESSALY_HELPER_PATH, {"run"}, home / "helper.out", home / "helper.err");
        ASSERT_TRUE(eventually([&] { return runner.run(TESSALY_HELPER_PATH, {"status"}).exitStatus == 0; }))
            << "the helper did not start: " << readFile(home / "helper.err");
    }

    /// Waits until the helper's status counts `previews` native previews: its pass over them has
    /// finished, so a user acting now acts on previews the helper tracks.
    void untilTracked(int previews) const {
        const std::string expected = "Native previews: " + std::to_string(previews) + ".";
        std::string status;
        EXPECT_TRUE(eventually([&] {
            status = runner.run(TESSALY_HELPER_PATH, {"status"}).out;
            return status.find(expected) != std::string::npos;
        })) << status;
    }

    std::string choiceFile() const { return home / "Library/Application Support/Tessaly/audio.json"; }
    /// Waits until audio.json remembers `volume` as the JSON writer spells it ("0.4", "0").
    bool remembers(const std::string& volume, double seconds = 10) const {
        return eventually(
            [&] {
                std::error_code error;
                return std::filesystem::exists(choiceFile(), error) &&
                       readFile(choiceFile()).find("\"volume\" : " + volume + "\n") != std::string::npos;
            },
            seconds);
    }
    /// Waits until the session's state, as text, satisfies `holds`; the last state seen.
    std::string stateWhen(const std::function<bool(const std::string&)>& holds, double seconds = 15) const {
        std::string state;
        eventually([&] { return holds(state = act({"state"})); }, seconds);
        return state;
    }

    int sessionPid = -1;
    int helperPid = -1;
};

}  // namespace tessaly::testing
