#include <unistd.h>

#include <signal.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "foundation/Version.h"
#include "posix/SupervisorLock.h"
#include "support/RealProcesses.h"
#include "support/UserFixture.h"

namespace tessaly::testing {
namespace {

/// The built Tessaly application, run by a user of its own.
class AppCommandLineTest : public UserFixture {
protected:
    ~AppCommandLineTest() override {
        // Leave no helper behind, whatever the test did.
        if (std::filesystem::exists(installedApp())) runner.run(installedApp(), {"disable"});
    }

    ProcessResult app(const std::vector<std::string>& arguments) const {
        return runner.run(TESSALY_APP_PATH, arguments);
    }

    /// Runs the installed application with each argument list at once, in real processes.
    std::vector<ProcessResult> atOnce(const std::vector<std::vector<std::string>>& runs) const {
        std::vector<ProcessResult> results(runs.size());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            threads.emplace_back([&, i] { results[i] = runner.run(installedApp(), runs[i], 60); });
        }
        for (auto& thread : threads) thread.join();
        return results;
    }

    /// The live processes running the installed helper.
    std::vector<pid_t> helpers() const {
        std::vector<pid_t> found;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code error;
            const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
            const auto pid = static_cast<pid_t>(std::stol(name));
            if (!error && exe == installedHelper() && isRunning(pid)) found.push_back(pid);
        }
        return found;
    }

    std::string legacyAgent() const { return home / "Library/LaunchAgents/com.orvanne.tessaly.plist"; }

    /// The launchctl stand-in, run through the bundle's Linux launcher.
    ProcessResult launchctl(const std::vector<std::string>& arguments) const {
        std::vector<std::string> words{"launchctl"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        return runner.run(installedBundle() + "/Contents/MacOS/tessaly-login", words);
    }
    std::string legacyTarget() const { return "gui/" + std::to_string(::getuid()) + "/com.orvanne.tessaly"; }

    /// The legacy installer's agent, naming the installed helper, loaded and answering.
    void loadLegacyAgent() const {
        writeLegacyAgent();
        const auto loaded = launchctl({"bootstrap", "gui/" + std::to_string(::getuid()), legacyAgent()});
        ASSERT_EQ(loaded.exitStatus, 0) << loaded.out;
        ASSERT_TRUE(eventually([&] { return runner.run(installedHelper(), {"status"}).exitStatus == 0; }));
    }
    void writeLegacyAgent() const {
        writeFile(
            legacyAgent(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key><string>com.orvanne.tessaly</string><key>ProgramArguments</key><array><string>" +
                installedHelper() +
                "</string><string>run</string></array><key>RunAtLoad</key><true/><key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict></dict></plist>\n");
    }

    std::string autostartEntry() const {
        return home / ".config/autostart/com.orvanne.tessaly.agent.desktop";
    }

    /// Logging out ends the session's processes, every supervisor and its helper; logging in runs
    /// what the autostart entry says.
    void logOutAndIn() const {
        for (const std::string lock :
             {"login-items/com.orvanne.tessaly.agent.plist", "launch-agents/com.orvanne.tessaly"}) {
            for (const pid_t supervisor :
                 SupervisorLock(home / (".local/state/tessaly/" + lock + ".lock")).holders())
                ::kill(supervisor, SIGKILL);
        }
        ASSERT_TRUE(eventually([&] { return helpers().empty(); }));
        const std::string entry = readFile(autostartEntry());
        std::smatch exec;
        ASSERT_TRUE(std::regex_search(entry, exec, std::regex("\nExec=\"([^\"]*)\" start \"([^\"]*)\"\n")))
            << entry;
        EXPECT_EQ(exec[1].str(), installedBundle() + "/Contents/MacOS/tessaly-login");
        const auto login = runner.run(exec[1].str(), {"start", exec[2].str()});
        EXPECT_EQ(login.exitStatus, 0) << login.err;
    }
};

TEST_F(AppCommandLineTest, EachCommandLineFromOutsideApplicationsGetsItsAnswerAndChangesNothing) {
    const std::string invalid = "Tessaly: Invalid arguments. Open Tessaly.app or use --help.\n";
    const std::string fromShell =
        "Tessaly: Open Tessaly.app from Finder. Do not grant Accessibility to Terminal.\n";
    const struct {
        std::vector<std::string> arguments;
        int exitStatus;
        std::string out;
        std::string err;
    } cases[] = {
        {{"--version"}, 0, "Tessaly " + std::string(version) + "\n", ""},
        {{"--help"},
         0,
         "Open Tessaly.app for setup. CLI: enable | disable | restart | uninstall | setup-status --json\n",
         ""},
        {{"setup-status", "--json"},
         0,
         "{\n  \"accessibilityTrusted\" : true,\n  \"installed\" : false,\n  \"legacyInstallation\" : false,\n  \"registration\" : \"not-registered\",\n  \"version\" : \"" +
             std::string(version) + "\",\n  \"volume\" : 0\n}\n",
         ""},
        {{"enable"},
         1,
         "",
         "Tessaly: Move Tessaly.app into Applications, then open that copy to finish setup.\n"},
        // Anything but a whole accepted vector is refused.
        {{"setup-status"}, 1, "", invalid},
        {{"--json"}, 1, "", invalid},
        {{"--json", "setup-status"}, 1, "", invalid},
        {{"enable", "now"}, 1, "", invalid},
        {{"ENABLE"}, 1, "", invalid},
        {{"-h"}, 1, "", invalid},
        // The window is not opened from a shell.
        {{}, 1, "", fromShell},
        {{"setup"}, 1, "", fromShell},
        {{"authorize"}, 1, "", fromShell},
    };
    for (const auto& expected : cases) {
        const auto result = app(expected.arguments);
        const std::string line = expected.arguments.empty() ? "" : expected.arguments.front();
        EXPECT_EQ(result.exitStatus, expected.exitStatus) << line;
        EXPECT_EQ(result.out, expected.out) << line;
        EXPECT_EQ(result.err, expected.err) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(home / ".local/state"));
}

TEST_F(AppCommandLineTest, AnInstalledCopyEnablesStartsAtLoginRestartsDisablesAndUninstalls) {
    install();

    auto enable = runner.run(installedApp(), {"enable"});
    EXPECT_EQ(enable.exitStatus, 0) << enable.err;
    EXPECT_EQ(enable.out, "Quick Look audio memory is enabled, including at login.\n");
    logOutAndIn();
    ASSERT_TRUE(eventually([&] { return runner.run(installedHelper(), {"status"}).exitStatus == 0; }));
    EXPECT_EQ(runner.run(installedHelper(), {"status"}).out,
              "Quick Look audio memory is ON. Muted. Native previews: 0.\n");
    auto status = runner.run(installedApp(), {"setup-status", "--json"});
    EXPECT_NE(status.out.find("\"registration\" : \"enabled\""), std::string::npos);
    EXPECT_NE(status.out.find("\"helper\" : {"), std::string::npos);
    EXPECT_EQ(status.out.find("\"error\""), std::string::npos) << status.out;

    auto restart = runner.run(installedApp(), {"restart"});
    EXPECT_EQ(restart.exitStatus, 0) << restart.err;
    EXPECT_EQ(restart.out, "Quick Look audio memory restarted with the saved choice.\n");

    auto disable = runner.run(installedApp(), {"disable"});
    EXPECT_EQ(disable.exitStatus, 0) << disable.err;
    EXPECT_EQ(disable.out, "Quick Look audio memory is disabled, including at login.\n");
    EXPECT_FALSE(std::filesystem::exists(runtime / "com.orvanne.tessaly"));
    EXPECT_FALSE(std::filesystem::exists(autostartEntry()));
    EXPECT_EQ(runner.run(installedHelper(), {"status"}).exitStatus, 1);
    EXPECT_NE(runner.run(installedApp(), {"setup-status", "--json"}).out.find("\"not-registered\""),
              std::string::npos);

    auto uninstall = runner.run(installedApp(), {"uninstall"});
    EXPECT_EQ(uninstall.exitStatus, 0) << uninstall.err;
    EXPECT_EQ(uninstall.out, "Tessaly was moved to Trash. The saved audio preference was retained.\n");
    EXPECT_FALSE(std::filesystem::exists(installedBundle()));
    EXPECT_TRUE(std::filesystem::exists(home / ".local/share/Trash/files/Tessaly.app"));
    EXPECT_TRUE(std::filesystem::exists(home / ".local/share/Trash/info/Tessaly.app.trashinfo"));
    EXPECT_TRUE(std::filesystem::exists(home / "Library/Application Support/Tessaly/audio.json"));
}

TEST_F(AppCommandLineTest, EnablesAtOnceLeaveOneHelperDisablesAtOnceStopItAndUninstallsAtOnceTrashOnce) {
    install();

    for (const auto& result : atOnce({{"enable"}, {"enable"}, {"restart"}}))
        EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(eventually([&] { return helpers().size() == 1; }));

    for (const auto& result : atOnce({{"disable"}, {"disable"}}))
        EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(helpers().empty());
    EXPECT_FALSE(eventually([&] { return !helpers().empty(); }, 1)) << "nothing starts a helper again";

    // Uninstalls at once trash the bundle once and report the other. Enabled, so that both are past their
    // checks, disabling, when the first one trashes the bundle.
    ASSERT_EQ(runner.run(installedApp(), {"enable"}).exitStatus, 0);

    const auto results = atOnce({{"uninstall"}, {"uninstall"}});

    EXPECT_EQ((results[0].exitStatus == 0) + (results[1].exitStatus == 0), 1)
        << results[0].err << results[1].err;
    for (const auto& result : results) EXPECT_EQ(result.exitStatus == 0, result.err.empty()) << result.err;
    const std::string trash = home / ".local/share/Trash";
    EXPECT_FALSE(std::filesystem::exists(trash + "/files/Tessaly.app.2"));
    EXPECT_NE(readFile(trash + "/info/Tessaly.app.trashinfo").find("Path=" + installedBundle() + "\n"),
              std::string::npos);
}

TEST_F(AppCommandLineTest, ALoadedLegacyAgentIsLoadedAgainAfterAFailedRegistrationAndMigratedByEnable) {
    install();
    loadLegacyAgent();
    EXPECT_NE(
        runner.run(installedApp(), {"setup-status", "--json"}).out.find("\"legacyInstallation\" : true"),
        std::string::npos);
    // A login-item folder that is a link makes the registration fail after the bootout.
    std::filesystem::create_directories(home / "elsewhere");
    std::filesystem::create_symlink(home / "elsewhere", home / ".local/state/tessaly/login-items");

    auto failed = runner.run(installedApp(), {"enable"});

    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_NE(failed.err.find("is not a folder of this user"), std::string::npos) << failed.err;
    EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 0);
    EXPECT_TRUE(std::filesystem::exists(legacyAgent()));
    EXPECT_TRUE(eventually([&] { return runner.run(installedHelper(), {"status"}).exitStatus == 0; }));

    std::filesystem::remove(home / ".local/state/tessaly/login-items");
    auto enable = runner.run(installedApp(), {"enable"});

    EXPECT_EQ(enable.exitStatus, 0) << enable.err;
    EXPECT_FALSE(std::filesystem::exists(legacyAgent()));
    EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 113);
    EXPECT_TRUE(eventually([&] { return helpers().size() == 1; }));
    EXPECT_EQ(runner.run(installedApp(), {"disable"}).exitStatus, 0);
    EXPECT_TRUE(helpers().empty());
}

TEST_F(AppCommandLineTest, AnOlderAgentBesideTheRunningLoginItemIsStoppedByItsJobAndLoadedAgainAtLogin) {
    install();
    ASSERT_EQ(runner.run(installedApp(), {"enable"}).exitStatus, 0);
    const std::vector<pid_t> loginItemHelper = helpers();
    ASSERT_EQ(loginItemHelper.size(), 1u);
    loadLegacyAgent();  // its helper finds the port taken

    auto finish = runner.run(installedApp(), {"enable"});
    EXPECT_EQ(finish.exitStatus, 0) << finish.err;
    EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 113);
    EXPECT_FALSE(std::filesystem::exists(legacyAgent()));
    EXPECT_EQ(helpers(), loginItemHelper);

    // A file left behind (enable could not remove it, say) is loaded again beside it at the next login.
    writeLegacyAgent();
    logOutAndIn();
    EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 0);
    ASSERT_TRUE(eventually([&] { return runner.run(installedHelper(), {"status"}).exitStatus == 0; }));

    auto disable = runner.run(installedApp(), {"disable"});
    EXPECT_EQ(disable.exitStatus, 0) << disable.err;
    EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 113);
    EXPECT_TRUE(helpers().empty());
    EXPECT_TRUE(std::filesystem::exists(legacyAgent())) << "disable keeps the file";
    // Disabled: not loaded again at the next login; uninstalling removes it.
    runner.run(installedBundle() + "/Contents/MacOS/tessaly-login",
               {"start", "com.orvanne.tessaly.agent.plist"});
    EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 113);
    auto uninstall = runner.run(installedApp(), {"uninstall"});
    EXPECT_EQ(uninstall.exitStatus, 0) << uninstall.err;
    EXPECT_FALSE(std::filesystem::exists(legacyAgent()));
}

TEST_F(AppCommandLineTest, AnInterruptedCommandLineRollsBackAsAFailedStepWouldAndSaysSo) {
    install();
    // A helper no launch agent started keeps the port, so enable waits after booting the older agent out.
    const int strayHelper =
        runner.start(installedHelper(), {"run"}, home / "helper.out", home / "helper.err");
    ASSERT_TRUE(eventually([&] { return runner.run(installedHelper(), {"status"}).exitStatus == 0; }));
    loadLegacyAgent();

    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int enable = runner.start(installedApp(), {"enable"}, home / "enable.out", home / "enable.err");
        ASSERT_TRUE(eventually([&] {
            return launchctl({"print", legacyTarget()}).exitStatus == 113;
        })) << signal;
        ::kill(enable, signal);

        EXPECT_EQ(ProcessRunner::waitFor(enable, 10), std::optional(1)) << signal;
        EXPECT_EQ(readFile(home / "enable.err"), "Tessaly: The operation was interrupted.\n");
        EXPECT_EQ(readFile(home / "enable.out"), "");
        EXPECT_EQ(launchctl({"print", legacyTarget()}).exitStatus, 0) << "loaded again";
        EXPECT_FALSE(std::filesystem::exists(
            home / ".local/state/tessaly/login-items/com.orvanne.tessaly.agent.plist"));
    }
    ::kill(strayHelper, SIGTERM);
    EXPECT_EQ(ProcessRunner::waitFor(strayHelper, 10), std::optional(0));
}

}  // namespace
}  // namespace tessaly::testing
