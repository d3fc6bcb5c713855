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

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "posix/PosixServiceManagement.h"
#include "posix/SupervisorLock.h"
#include "support/ErrorMessage.h"
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

using FileSystem::quoted;

/// Login items for a fake bundle in a fresh folder; every member is the tests' to use.
class LoginItemTest : public ::testing::Test {
public:
    ~LoginItemTest() override {
        // A failed test must not leave a supervised program running.
        try {
            if (items) items->unregisterService(name);
            if (items) SupervisorLock(record() + ".lock").stopHolders(1);
        } catch (...) {
        }
    }

    /// The bundle with `plan`, and login items for it that restart quickly, changed by `change`.
    void makeBundle(const std::vector<std::string>& plan,
                    const std::function<void(PosixServiceManagement::Settings&)>& change = {}) {
        bundle = std::make_unique<FakeAgentBundle>(folder.path(), plan);
        PosixServiceManagement::Settings chosen;
        chosen.stateFolder = folder / "state/tessaly";
        chosen.autostartFolder = folder / "config/autostart";
        chosen.throttleInterval = 0.1;
        chosen.stopTimeout = 3;
        if (change) change(chosen);
        items = std::make_unique<PosixServiceManagement>(bundle->path(), chosen);
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
    static bool inProcessesAtOnce(int count, const std::function<void()>& action) {
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
            succeeded = testing::ProcessRunner::waitFor(child, 30) == 0 && succeeded;
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

TEST_F(LoginItemTest, RegistrationsAtOnceStartOneProgramDetachedUnderOneSupervisorWithAPrivateRecord) {
    makeBundle({"stay"});
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);

    // Registrations at once start one supervisor and one program.
    ASSERT_TRUE(inProcessesAtOnce(4, [&] { items->registerService(name); }));

    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
    ASSERT_TRUE(startedTimes(1));
    EXPECT_FALSE(eventually([&] { return bundle->starts().size() > 1; }, 0.5));
    const auto start = bundle->starts().front();
    EXPECT_EQ(start.arguments, "run");
    EXPECT_TRUE(isRunning(start.pid));
    // Detached from the registering process: its own session, no terminal, no inherited streams.
    const std::string proc = "/proc/" + std::to_string(start.pid);
    EXPECT_NE(::getsid(start.pid), ::getsid(0));
    EXPECT_EQ(testing::statField(start.pid, 4), "0") << "no controlling terminal";
    for (const char* stream : {"/fd/0", "/fd/1", "/fd/2"}) {
        EXPECT_EQ(FileSystem::symbolicLinkDestination(proc + stream), "/dev/null") << stream;
    }
    EXPECT_EQ(FileSystem::symbolicLinkDestination(proc + "/cwd"), "/");
    EXPECT_NE(::getppid(), start.pid);

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

// ---- Restarting ----

TEST_F(LoginItemTest,
       EveryUnsuccessfulEndIsFollowedByANewStartNoSoonerThanTheThrottleButAnExitWithZeroIsNot) {
    // As launchd reads KeepAlive {SuccessfulExit: false}: any exit status but 0, and any signal.
    makeBundle({"1", "2", "die", "0"}, [](auto& chosen) { chosen.throttleInterval = 0.5; });
    items->registerService(name);

    ASSERT_TRUE(startedTimes(4));
    ASSERT_TRUE(eventually([&] { return supervisor() == 0; })) << "the supervisor ends with its program";
    const auto starts = bundle->starts();
    EXPECT_EQ(starts.size(), 4u);
    // The script logs its start a little after the fork, by a varying delay: allow 0.1 s of it.
    for (std::size_t next = 1; next < starts.size(); ++next)
        EXPECT_GE(starts[next].nanoseconds - starts[next - 1].nanoseconds, 400'000'000) << next;
    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled) << "and the item stays registered";
}

// ---- Unregistering ----

TEST_F(LoginItemTest, UnregisteringsAtOnceAllSucceedAndStopProgramAndSupervisorBeforeTheyReturn) {
    makeBundle({"stay"});
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t program = bundle->starts().front().pid;
    const pid_t watcher = supervisor();
    ASSERT_TRUE(eventually([&] { return bundle->ready(program); }));

    EXPECT_TRUE(inProcessesAtOnce(3, [&] { items->unregisterService(name); }));

    EXPECT_FALSE(isRunning(program));
    EXPECT_FALSE(isRunning(watcher));
    EXPECT_TRUE(bundle->stopped(program)) << "the program got SIGTERM, not SIGKILL";
    EXPECT_EQ(supervisor(), 0);
    EXPECT_FALSE(FileSystem::exists(record()));
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);
}

TEST_F(LoginItemTest, AProgramThatIgnoresSigtermIsKilledAndOneBetweenRestartsIsNotStartedAgain) {
    makeBundle({"ignore-term"}, [](auto& chosen) { chosen.stopTimeout = 0.3; });
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t program = bundle->starts().front().pid;
    ASSERT_TRUE(eventually([&] { return testing::commandName(program) == "sleep"; }));
    items->unregisterService(name);
    EXPECT_FALSE(isRunning(program));
    EXPECT_FALSE(FileSystem::exists(record()));

    makeBundle({"1", "stay"}, [](auto& chosen) { chosen.throttleInterval = 30; });
    items->registerService(name);
    ASSERT_TRUE(startedTimes(1));
    const pid_t watcher = supervisor();
    items->unregisterService(name);
    EXPECT_FALSE(isRunning(watcher));
    EXPECT_EQ(bundle->starts().size(), 1u);
}

TEST_F(LoginItemTest, ADamagedRecordReadsAsUnknownAndItsSupervisorIsStillStopped) {
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

TEST_F(LoginItemTest, AStaleOrForgedRecordNeverStopsAnotherProcess) {
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

// ---- Requiring approval ----

TEST_F(LoginItemTest, WhenApprovalIsRequiredNothingStartsUntilLoginItemsSettingsSwitchItOn) {
    makeBundle({"stay"}, [](auto& chosen) { chosen.requireApproval = true; });
    items->registerService(name);

    EXPECT_EQ(items->status(name), SMAppServiceStatusRequiresApproval);
    EXPECT_EQ(recordKeys().at("State"), CFValue("requires-approval"));
    EXPECT_EQ(recordKeys().count("SupervisorProcessIdentifier"), 0u);
    EXPECT_FALSE(startedTimes(1, 0.5));
    EXPECT_FALSE(FileSystem::exists(items->autostartPath(name)));
    items->unregisterService(name);
    EXPECT_EQ(items->status(name), SMAppServiceStatusNotRegistered);

    items->registerService(name);
    items->openSystemSettingsLoginItems();

    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
    ASSERT_TRUE(startedTimes(1));
    EXPECT_TRUE(FileSystem::exists(items->autostartPath(name)));

    // The user switches the running item off.
    items->switchOff(name);

    EXPECT_EQ(items->status(name), SMAppServiceStatusRequiresApproval);
    EXPECT_EQ(supervisor(), 0);
    EXPECT_FALSE(FileSystem::exists(items->autostartPath(name)));
    // Unregistering does not forget the switch: registering again is refused, left awaiting approval.
    items->unregisterService(name);
    const auto refused = testing::thrown<ServiceManagementError>([&] { items->registerService(name); });
    EXPECT_EQ(refused.code(), kSMErrorLaunchDeniedByUser);
    EXPECT_STREQ(refused.what(), "Operation not permitted");
    EXPECT_EQ(items->status(name), SMAppServiceStatusRequiresApproval);
    EXPECT_FALSE(startedTimes(2, 0.5));

    items->openSystemSettingsLoginItems();

    EXPECT_EQ(items->status(name), SMAppServiceStatusEnabled);
    EXPECT_TRUE(startedTimes(2));
    EXPECT_TRUE(FileSystem::exists(items->autostartPath(name)));
}

TEST(LoginItemSettings, ComeFromTheEnvironment) {
    ScopedEnvironment home("HOME", "/home/someone");
    const std::pair<std::optional<std::string>, bool> approvals[] = {
        {"1", true}, {std::nullopt, false}, {"0", false}, {"yes", false}};
    for (const auto& [value, required] : approvals) {
        ScopedEnvironment variable("TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL", value);
        EXPECT_EQ(PosixServiceManagement::Settings::fromEnvironment().requireApproval, required)
            << value.value_or("unset");
    }
    const std::pair<std::optional<std::string>, std::string> stateHomes[] = {
        {"/var/state", "/var/state/tessaly"},
        {std::nullopt, "/home/someone/.local/state/tessaly"},
        {"", "/home/someone/.local/state/tessaly"},
        {"relative/state", "/home/someone/.local/state/tessaly"}};
    for (const auto& [value, folder] : stateHomes) {
        ScopedEnvironment stateHome("XDG_STATE_HOME", value);
        EXPECT_EQ(PosixServiceManagement::Settings::fromEnvironment().stateFolder, folder)
            << value.value_or("unset");
    }
}

// ---- What cannot be registered ----

struct Refusal {
    const char* what;
    std::function<void(LoginItemTest&)> damage;
    std::function<std::string(LoginItemTest&)> message;
};

const Refusal refusals[] = {
    {"NoDefinition", [](auto& test) { ASSERT_EQ(::unlink(test.bundle->definitionPath().c_str()), 0); },
     [](auto& test) {
         return "Reading " + quoted(test.bundle->definitionPath()) + " failed: No such file or directory.";
     }},
    {"ProgramOutsideTheBundle",
     [](auto& test) {
         test.bundle->writeDefinition(FakeAgentBundle::definition("Contents/../../fake-helper"));
     },
     [](auto& test) {
         return "The agent definition " + quoted(test.bundle->definitionPath()) +
                " cannot be used: its BundleProgram is not a path inside the application bundle.";
     }},
    {"NoBundleProgram",
     [](auto& test) {
         test.bundle->writeDefinition(
             "<plist version=\"1.0\"><dict><key>Label</key><string>x</string></dict></plist>");
     },
     [](auto& test) {
         return "The agent definition " + quoted(test.bundle->definitionPath()) +
                " cannot be used: it names no BundleProgram.";
     }},
    {"ProgramThatCannotRun", [](auto& test) { ASSERT_EQ(::chmod(test.bundle->program().c_str(), 0644), 0); },
     [](auto& test) {
         return "Launching " + quoted(test.bundle->program()) + " failed: Permission denied.";
     }},
    {"LinkedRecordFolder",
     [](auto& test) {
         testing::writeFile(test.folder / "elsewhere/placeholder", "");
         ASSERT_EQ(::mkdir((test.folder / "state").c_str(), 0700), 0);
         ASSERT_EQ(::symlink((test.folder / "elsewhere").c_str(), (test.folder / "state/tessaly").c_str()),
                   0);
     },
     [](auto& test) {
         return "The login item folder " + quoted(test.folder / "state/tessaly") +
                " is not a folder of this user; Tessaly does not follow links there.";
     }},
};

class LoginItemRefusal : public LoginItemTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LoginItemRefusal, SaysWhyAndLeavesNoRecordNorProcess) {
    makeBundle({"stay"});
    GetParam().damage(*this);

    EXPECT_EQ(testing::messageOf([&] { items->registerService(name); }), GetParam().message(*this));

    EXPECT_FALSE(FileSystem::exists(record()));
    // Not registered; and not found at all while the bundle has no definition.
    EXPECT_EQ(items->status(name), FileSystem::exists(bundle->definitionPath())
                                       ? SMAppServiceStatusNotRegistered
                                       : SMAppServiceStatusNotFound);
    EXPECT_TRUE(eventually([&] { return SupervisorLock(record() + ".lock").holders().empty(); }))
        << "no supervisor keeps failing to start it";
    EXPECT_FALSE(startedTimes(1, 0.2));
}

INSTANTIATE_TEST_SUITE_P(Cases, LoginItemRefusal, ::testing::ValuesIn(refusals),
                         [](const auto& parameter) { return std::string(parameter.param.what); });

TEST_F(LoginItemTest, ANameThatIsNotAFileNameIsNeverLookedUp) {
    makeBundle({"stay"});
    const std::string escaping = "../LaunchAgents/" + name;
    EXPECT_EQ(items->status(escaping), SMAppServiceStatusNotFound);
    EXPECT_EQ(testing::messageOf([&] { items->registerService(escaping); }),
              "The login item name " + quoted(escaping) + " is not a plain file name.");
    EXPECT_NO_THROW(items->unregisterService(escaping));
    EXPECT_NO_THROW(items->unregisterService(name)) << "what is not registered is no error";
}

}  // namespace
}  // namespace tessaly
