// The login-item stand-in with real processes: a fake bundle whose agent runs a logging script.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "posix/PosixServiceManagement.h"
#include "posix/SupervisorLock.h"
#include "support/FakeAgentBundle.h"
#include "support/ProcessRunner.h"
#include "support/RealProcesses.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"
#include "values/PropertyList.h"

namespace tessaly {
namespace {

using testing::eventually;
using testing::FakeAgentBundle;
using testing::isRunning;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

const std::string name = FakeAgentBundle::plistName;

std::string quoted(const std::string& text) {
    return "\xE2\x80\x9C" + text + "\xE2\x80\x9D";
}

class LoginItemTest : public ::testing::Test {
protected:
    ~LoginItemTest() override {
        // A failed test must not leave a supervised program running.
        try {
            if (items) items->unregisterService(name);
            if (items) SupervisorLock(record() + ".lock").stopHolders(1);
        } catch (...) {
        }
    }

    /// The bundle with `plan`, and login items for it that restart quickly.
    void makeBundle(const std::vector<std::string>& plan) {
        bundle = std::make_unique<FakeAgentBundle>(folder.path(), plan);
        makeItems(settings());
    }

    void makeItems(const PosixServiceManagement::Settings& chosen) {
        items = std::make_unique<PosixServiceManagement>(bundle->path(), chosen);
    }

    PosixServiceManagement::Settings settings() const {
        PosixServiceManagement::Settings chosen;
        chosen.stateFolder = folder / "state/tessaly";
        chosen.autostartFolder = folder / "config/autostart";
        chosen.throttleInterval = 0.1;
        chosen.stopTimeout = 3;
        return chosen;
    }

    std::string record() const { return items->recordPath(name); }

    CFDictionary recordKeys() const {
        const CFValue value = PropertyList::parse(testing::readFile(record()));
        return value.dictionary() ? *value.dictionary() : CFDictionary{};
    }

    /// The one supervisor holding the item's lock; 0 when there is none or more than one.
    pid_t supervisor() const {
        const auto holders = SupervisorLock(record() + ".lock").holders();
        return holders.size() == 1 ? holders.front() : 0;
    }

    /// Runs `action` in `count` forked processes released at once; whether all exited with 0.
    bool inProcessesAtOnce(int count, const std::function<void()>& action) {
        int gate[2];
        if (::pipe(gate) != 0) return false;
        std::vector<pid_t> children;
        for (int i = 0; i < count; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(gate[1]);
                char byte = 0;
                while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
                }
                int code = 0;
                try {
                    action();
                } catch (...) {
                    code = 1;
                }
                ::_exit(code);
            }
            children.push_back(child);
        }
        ::close(gate[0]);
        ::close(gate[1]);  // every child reads the end of the pipe at once
        bool succeeded = true;
        for (const pid_t child : children) {
            const auto status = testing::ProcessRunner::waitFor(child, 30);
            succeeded = succeeded && status == 0;
        }
        return succeeded;
    }

    bool startedTimes(std::size_t count, double seconds = 10) const {
        return eventually([&] { return bundle->starts().size() >= count; }, seconds);
    }

    TemporaryDirectory folder;
    ScopedEnvironment approval{"TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL", std::nullopt};
    std::unique_ptr<FakeAgentBundle> bundle;
    std::unique_ptr<PosixServiceManagement> items;
};

// ---- Registering ----

using LoginItemRegistration = LoginItemTest;

TEST_F(LoginItemRegistration, StartsTheBundleProgramWithItsArgumentsAndReportsEnabled) {
    makeBundle({"stay"});
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);

    items->registerService(name);

    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
    ASSERT_TRUE(startedTimes(1));
    const auto start = bundle->starts().front();
    EXPECT_EQ(start.arguments, "run");
    EXPECT_TRUE(isRunning(start.pid));
}

TEST_F(LoginItemRegistration, RunsTheProgramDetachedFromTheRegisteringProcess) {
    makeBundle({"stay"});
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t program = bundle->starts().front().pid;
    const std::string proc = "/proc/" + std::to_string(program);

    EXPECT_NE(::getsid(program), ::getsid(0));
    EXPECT_EQ(testing::statField(program, 4), "0") << "no controlling terminal";
    for (const char* stream : {"/fd/0", "/fd/1", "/fd/2"}) {
        EXPECT_EQ(FileSystem::symbolicLinkDestination(proc + stream), "/dev/null") << stream;
    }
    EXPECT_EQ(FileSystem::symbolicLinkDestination(proc + "/cwd"), "/");
    EXPECT_NE(::getppid(), program);
}

TEST_F(LoginItemRegistration, KeepsAPrivateRecordAndASupervisorThatHoldsTheLock) {
    makeBundle({"stay"});
    items->registerService(name);

    EXPECT_EQ(testing::permissionsOf(folder / "state/tessaly"), 0700u);
    EXPECT_EQ(testing::permissionsOf(folder / "state/tessaly/login-items"), 0700u);
    EXPECT_EQ(testing::permissionsOf(record()), 0600u);
    EXPECT_EQ(record(), folder / "state/tessaly/login-items/com.orvanne.tessaly.agent.plist");
    const CFDictionary keys = recordKeys();
    EXPECT_EQ(keys.at("State"), CFValue("enabled"));
    EXPECT_EQ(keys.at("Bundle"), CFValue(bundle->path()));
    EXPECT_EQ(keys.at("Program"), CFValue(bundle->program()));
    EXPECT_EQ(keys.size(), 3u) << "no process numbers: they go stale";
    ASSERT_GT(supervisor(), 1);
    EXPECT_TRUE(isRunning(supervisor()));
    EXPECT_EQ(testing::commandName(supervisor()), "tessaly-login");
}

TEST_F(LoginItemRegistration, RegistrationsAtOnceStartOneSupervisorAndOneProgram) {
    makeBundle({"stay"});

    ASSERT_TRUE(inProcessesAtOnce(4, [&] { items->registerService(name); }));

    ASSERT_TRUE(startedTimes(1));
    EXPECT_FALSE(eventually([&] { return bundle->starts().size() > 1; }, 0.5));
    EXPECT_GT(supervisor(), 1) << "exactly one supervisor holds the lock";
    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
}

// ---- Restarting ----

using LoginItemRestart = LoginItemTest;

TEST_F(LoginItemRestart, EveryUnsuccessfulEndIsFollowedByANewStart) {
    // As launchd reads KeepAlive {SuccessfulExit: false}: any exit status but 0, and any signal.
    makeBundle({"1", "2", "die", "stay"});
    items->registerService(name);

    ASSERT_TRUE(startedTimes(4));
    EXPECT_TRUE(isRunning(bundle->starts()[3].pid));
    EXPECT_FALSE(eventually([&] { return bundle->starts().size() > 4; }, 0.5));
    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
}

TEST_F(LoginItemRestart, RestartsComeNoSoonerThanTheThrottleIntervalAfterTheLastStart) {
    bundle = std::make_unique<FakeAgentBundle>(folder.path(), std::vector<std::string>{"1", "1", "stay"});
    auto chosen = settings();
    chosen.throttleInterval = 0.5;
    makeItems(chosen);
    items->registerService(name);

    ASSERT_TRUE(startedTimes(3));
    // The script logs its start a little after the fork, by a varying delay: allow 0.1 s of it.
    const auto starts = bundle->starts();
    EXPECT_GE(starts[1].nanoseconds - starts[0].nanoseconds, 400'000'000);
    EXPECT_GE(starts[2].nanoseconds - starts[1].nanoseconds, 400'000'000);
}

TEST_F(LoginItemRestart, AProgramThatExitsWithZeroIsNotStartedAgainButStaysRegistered) {
    makeBundle({"0"});
    items->registerService(name);

    ASSERT_TRUE(startedTimes(1));
    ASSERT_TRUE(eventually([&] { return supervisor() == 0; }));
    EXPECT_EQ(bundle->starts().size(), 1u);
    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
}

// ---- Unregistering ----

using LoginItemUnregistration = LoginItemTest;

TEST_F(LoginItemUnregistration, StopsProgramAndSupervisorBeforeItReturns) {
    makeBundle({"stay"});
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t program = bundle->starts().front().pid;
    const pid_t watcher = supervisor();
    ASSERT_TRUE(eventually([&] { return bundle->ready(program); }));

    items->unregisterService(name);

    EXPECT_FALSE(isRunning(program));
    EXPECT_FALSE(isRunning(watcher));
    EXPECT_TRUE(bundle->stopped(program)) << "the program got SIGTERM, not SIGKILL";
    EXPECT_FALSE(FileSystem::exists(record()));
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);
}

TEST_F(LoginItemUnregistration, AProgramThatIgnoresSigtermIsKilled) {
    bundle = std::make_unique<FakeAgentBundle>(folder.path(), std::vector<std::string>{"ignore-term"});
    auto chosen = settings();
    chosen.stopTimeout = 0.3;
    makeItems(chosen);
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t program = bundle->starts().front().pid;
    ASSERT_TRUE(eventually([&] { return testing::commandName(program) == "sleep"; }));

    items->unregisterService(name);

    EXPECT_FALSE(isRunning(program));
    EXPECT_FALSE(FileSystem::exists(record()));
}

TEST_F(LoginItemUnregistration, AProgramBetweenRestartsIsNotStartedAgain) {
    bundle = std::make_unique<FakeAgentBundle>(folder.path(), std::vector<std::string>{"1", "stay"});
    auto chosen = settings();
    chosen.throttleInterval = 30;
    makeItems(chosen);
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t watcher = supervisor();

    items->unregisterService(name);

    EXPECT_FALSE(isRunning(watcher));
    EXPECT_EQ(bundle->starts().size(), 1u);
}

TEST_F(LoginItemUnregistration, WhatIsNotRegisteredIsNoError) {
    makeBundle({"stay"});
    EXPECT_NO_THROW(items->unregisterService(name));
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);
}

TEST_F(LoginItemUnregistration, ADamagedRecordReadsAsUnknownAndItsSupervisorIsStillStopped) {
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> damages = {
        {"empty", [](const std::string& path) { testing::writeFile(path, ""); }},
        {"garbage", [](const std::string& path) { testing::writeFile(path, "not a property list"); }},
        {"no state",
         [](const std::string& path) {
             testing::writeFile(path, PropertyList::writeXml(CFValue(CFDictionary{})));
         }},
        {"a link",
         [&](const std::string& path) {
             testing::writeFile(folder / "elsewhere", testing::readFile(path));
             ::unlink(path.c_str());
             ::symlink((folder / "elsewhere").c_str(), path.c_str());
         }},
    };
    makeBundle({"stay", "stay", "stay", "stay"});
    for (const auto& [damage, apply] : damages) {
        items->registerService(name);
        ASSERT_TRUE(eventually([&] { return supervisor() != 0; })) << damage;
        const pid_t watcher = supervisor();
        apply(record());

        EXPECT_EQ(items->status(name), PosixServiceManagement::unreadableRecordStatus) << damage;
        items->unregisterService(name);

        EXPECT_FALSE(isRunning(watcher)) << damage;
        EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered) << damage;
    }
    EXPECT_TRUE(eventually([&] {
        const auto starts = bundle->starts();
        return std::none_of(starts.begin(), starts.end(),
                            [](const auto& start) { return isRunning(start.pid); });
    }));
}

TEST_F(LoginItemUnregistration, AStaleOrForgedRecordNeverStopsAnotherProcess) {
    makeBundle({"stay"});
    // A process left in a session whose leader has ended, as a reused session number may hold after
    // a reboot: only the lock, never recorded numbers, may make it ours.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t leader = ::fork();
    ASSERT_GE(leader, 0);
    if (leader == 0) {
        ::setsid();
        if (::fork() == 0) {
            const pid_t self = ::getpid();
            (void)!::write(ready[1], &self, sizeof self);
            ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    pid_t stranger = 0;
    ASSERT_EQ(::read(ready[0], &stranger, sizeof stranger), static_cast<ssize_t>(sizeof stranger));
    ::close(ready[0]);
    ASSERT_EQ(testing::ProcessRunner::waitFor(leader, 10), 0);
    ASSERT_TRUE(eventually([&] { return testing::commandName(stranger) == "sleep"; }));
    const double startTime = std::stod(testing::statField(stranger, 19));
    const CFDictionary keys{{"State", "enabled"},
                            {"SupervisorProcessIdentifier", static_cast<double>(stranger)},
                            {"SupervisorStartTime", startTime},
                            {"SupervisorSession", static_cast<double>(leader)}};
    testing::writeFile(record(), PropertyList::writeXml(CFValue(keys)));

    items->unregisterService(name);

    EXPECT_TRUE(isRunning(stranger));
    EXPECT_FALSE(FileSystem::exists(record()));
    ::kill(stranger, SIGKILL);
}

TEST_F(LoginItemUnregistration, UnregisteringsAtOnceAllSucceedAndStopEverything) {
    makeBundle({"stay"});
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t program = bundle->starts().front().pid;

    EXPECT_TRUE(inProcessesAtOnce(3, [&] { items->unregisterService(name); }));

    EXPECT_FALSE(isRunning(program));
    EXPECT_EQ(supervisor(), 0);
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);
}

// ---- Requiring approval ----

using LoginItemApproval = LoginItemTest;

TEST_F(LoginItemApproval, RegisteringWhenApprovalIsRequiredRecordsItAndStartsNothing) {
    bundle = std::make_unique<FakeAgentBundle>(folder.path(), std::vector<std::string>{"stay"});
    auto chosen = settings();
    chosen.requireApproval = true;
    makeItems(chosen);

    items->registerService(name);

    EXPECT_EQ(items->status(name), SMAppServiceStatusRequiresApproval);
    EXPECT_EQ(recordKeys().at("State"), CFValue("requires-approval"));
    EXPECT_EQ(recordKeys().count("SupervisorProcessIdentifier"), 0u);
    EXPECT_FALSE(startedTimes(1, 0.5));
}

TEST_F(LoginItemApproval, OpeningLoginItemsSettingsSwitchesTheItemOnAndStartsIt) {
    bundle = std::make_unique<FakeAgentBundle>(folder.path(), std::vector<std::string>{"stay"});
    auto chosen = settings();
    chosen.requireApproval = true;
    makeItems(chosen);
    items->registerService(name);
    EXPECT_FALSE(FileSystem::exists(items->autostartPath(name)));

    items->openSystemSettingsLoginItems();

    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
    ASSERT_TRUE(startedTimes(1));
    EXPECT_TRUE(FileSystem::exists(items->autostartPath(name)));
}

TEST_F(LoginItemApproval, UnregisteringClearsAnItemAwaitingApproval) {
    bundle = std::make_unique<FakeAgentBundle>(folder.path(), std::vector<std::string>{"stay"});
    auto chosen = settings();
    chosen.requireApproval = true;
    makeItems(chosen);
    items->registerService(name);

    items->unregisterService(name);

    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);
}

TEST(LoginItemSettings, TheEnvironmentVariableSetToOneRequiresApproval) {
    {
        ScopedEnvironment variable("TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL", "1");
        EXPECT_TRUE(PosixServiceManagement::Settings::fromEnvironment().requireApproval);
    }
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("0"), std::optional<std::string>("yes")}) {
        ScopedEnvironment variable("TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL", value);
        EXPECT_FALSE(PosixServiceManagement::Settings::fromEnvironment().requireApproval)
            << value.value_or("unset");
    }
}

TEST(LoginItemSettings, TheStateFolderIsUnderXdgStateHomeOrTheHomeFolder) {
    ScopedEnvironment home("HOME", "/home/someone");
    {
        ScopedEnvironment stateHome("XDG_STATE_HOME", "/var/state");
        EXPECT_EQ(PosixServiceManagement::Settings::fromEnvironment().stateFolder, "/var/state/tessaly");
    }
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("relative/state")}) {
        ScopedEnvironment stateHome("XDG_STATE_HOME", value);
        EXPECT_EQ(PosixServiceManagement::Settings::fromEnvironment().stateFolder,
                  "/home/someone/.local/state/tessaly");
    }
}

// ---- The agent definition ----

using LoginItemDefinition = LoginItemTest;

TEST_F(LoginItemDefinition, AMissingDefinitionIsNotFoundAndCannotBeRegistered) {
    makeBundle({"stay"});
    ASSERT_EQ(::unlink(bundle->definitionPath().c_str()), 0);

    EXPECT_EQ(items->status(name), SMAppServiceStatusNotFound);
    try {
        items->registerService(name);
        FAIL() << "registered without a definition";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::noSuchFile);
        EXPECT_STREQ(
            error.what(),
            ("Reading " + quoted(bundle->definitionPath()) + " failed: No such file or directory.").c_str());
    }
    EXPECT_FALSE(FileSystem::exists(record()));
}

TEST_F(LoginItemDefinition, AProgramOutsideTheBundleIsRefused) {
    makeBundle({"stay"});
    bundle->writeDefinition(FakeAgentBundle::definition("Contents/../../fake-helper"));

    try {
        items->registerService(name);
        FAIL() << "registered a program outside the bundle";
    } catch (const TessalyError& error) {
        EXPECT_EQ(error.message(),
                  "The agent definition " + quoted(bundle->definitionPath()) +
                      " cannot be used: its BundleProgram is not a path inside the application bundle.");
    }
    EXPECT_FALSE(FileSystem::exists(record()));
}

TEST_F(LoginItemDefinition, ADefinitionWithoutBundleProgramIsRefused) {
    makeBundle({"stay"});
    bundle->writeDefinition("<plist version=\"1.0\"><dict><key>Label</key><string>x</string></dict></plist>");

    try {
        items->registerService(name);
        FAIL() << "registered without a program";
    } catch (const TessalyError& error) {
        EXPECT_EQ(error.message(), "The agent definition " + quoted(bundle->definitionPath()) +
                                       " cannot be used: it names no BundleProgram.");
    }
}

TEST_F(LoginItemDefinition, AProgramThatCannotBeExecutedFailsAndLeavesNoRecord) {
    makeBundle({"stay"});
    ASSERT_EQ(::chmod(bundle->program().c_str(), 0644), 0);

    try {
        items->registerService(name);
        FAIL() << "registered a program that cannot run";
    } catch (const FileError& error) {
        EXPECT_STREQ(error.what(),
                     ("Launching " + quoted(bundle->program()) + " failed: Permission denied.").c_str());
    }
    EXPECT_FALSE(FileSystem::exists(record()));
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);
    EXPECT_TRUE(eventually([&] { return SupervisorLock(record() + ".lock").holders().empty(); }))
        << "no supervisor keeps failing to start it";
}

TEST_F(LoginItemDefinition, ANameThatIsNotAFileNameIsNeverLookedUp) {
    makeBundle({"stay"});
    const std::string escaping = "../LaunchAgents/" + name;

    EXPECT_EQ(items->status(escaping), SMAppServiceStatusNotFound);
    try {
        items->registerService(escaping);
        FAIL() << "registered a path";
    } catch (const TessalyError& error) {
        EXPECT_EQ(error.message(), "The login item name " + quoted(escaping) + " is not a plain file name.");
    }
    EXPECT_NO_THROW(items->unregisterService(escaping));
}

TEST_F(LoginItemDefinition, ALinkedRecordFolderIsRefused) {
    makeBundle({"stay"});
    testing::writeFile(folder / "elsewhere/placeholder", "");
    ASSERT_EQ(::mkdir((folder / "state").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), (folder / "state/tessaly").c_str()), 0);

    try {
        items->registerService(name);
        FAIL() << "registered through a link";
    } catch (const TessalyError& error) {
        EXPECT_EQ(error.message(), "The login item folder " + quoted(folder / "state/tessaly") +
                                       " is not a folder of this user; Tessaly does not follow links there.");
    }
    EXPECT_FALSE(startedTimes(1, 0.5));
}

}  // namespace
}  // namespace tessaly
