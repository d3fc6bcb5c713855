#include "setup/SetupService.h"

#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "foundation/Utf8.h"
#include "foundation/Version.h"
#include "preference/PreferenceStore.h"
#include "service/StatusClient.h"

namespace tessaly {

namespace {

constexpr const char* launchctlPath = "/bin/launchctl";
constexpr const char* executableName = "Tessaly";
constexpr const char* accessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

// About five seconds for a helper to let go of the status port after it was told to stop.
constexpr int stoppedHelperRounds = 50;
constexpr double stoppedHelperInterval = 0.1;
// About six seconds for a new helper to start, build its guard and answer healthy.
constexpr int healthyHelperRounds = 30;
constexpr double healthyHelperInterval = 0.2;

/// The process launchctl print names for a running job ("pid = 123"), or nothing.
std::optional<std::int64_t> jobProcess(const std::string& description) {
    std::istringstream lines(description);
    for (std::string line; std::getline(lines, line);) {
        const std::string trimmed = Utf8::trimmed(line);
        if (trimmed.rfind("pid = ", 0) != 0) continue;
        try {
            return std::stoll(trimmed.substr(6));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

SetupService::SetupService(SetupPlatform platform) : platform_(std::move(platform)) {}

void SetupService::enable() {
    requireInstalledBundle();
    EnableState state;
    state.legacy = platform_.paths.validateLegacyAgent();
    if (state.legacy) {
        if (const auto job = legacyJob()) {
            const bool besideLoginItem = bootOutLegacy(*job);
            state.legacyBootedOut = true;
            try {
                waitForStoppedLegacy(besideLoginItem);
            } catch (const std::exception& failure) {
                // Nothing may change when this step fails: the agent that was booted out comes back.
                restartLegacy(failure.what());
                throw;
            }
        } else if (loginItemStatus() != SMAppServiceStatusEnabled) {
            // With the login item enabled, the helper on the port is its own, not a legacy one.
            waitForStoppedHelper();
        }
    }

    const int before = loginItemStatus();
    state.wasRegistered = before != SMAppServiceStatusNotRegistered && before != SMAppServiceStatusNotFound;
    try {
        registerLoginItem();
    } catch (const std::exception& failure) {
        rollBackRegistration(failure.what(), state);
        throw;
    }

    // The login item has taken over; the legacy agent must not start a second helper at login.
    if (state.legacy) FileSystem::removeFile(platform_.paths.legacyAgent());
    if (loginItemStatus() != SMAppServiceStatusEnabled) {
        throw TessalyError("Tessaly needs approval in General > Login Items & Extensions.");
    }
    waitForHealthyHelper();
}

void SetupService::disable() {
    requireInstalledBundle();
    if (platform_.paths.validateLegacyAgent()) {
        // Disabled first, so that launchd does not load it again at the next login; its file stays.
        launchctl({"disable", legacyServiceTarget()});
        if (const auto job = legacyJob()) waitForStoppedLegacy(bootOutLegacy(*job));
    }

    // A registration in a state it cannot name is still one: it is removed like an enabled one, so
    // that a damaged registration never keeps a helper running that nothing can stop.
    const int status = loginItemStatus();
    if (status == SMAppServiceStatusNotRegistered || status == SMAppServiceStatusNotFound) {
        waitForStoppedHelper();
        return;
    }
    // A choice the helper cannot save would be lost with it, so the item stays registered then.
    // On macOS this request runs in a detached task to keep the main thread free; here the service
    // runs on a worker thread already, and the request is bounded by its two time-outs.
    try {
        StatusClient::flushIfRunning(platform_.messagePorts, platform_.portName);
    } catch (const Error&) {
        // A helper that ended meanwhile (another disable stopped it) saved its choice on the way out.
        if (StatusClient::isRunning(platform_.messagePorts, platform_.portName)) throw;
    }
    platform_.serviceManagement.unregisterService(std::string(agentName));
    waitForStoppedHelper();
}

void SetupService::restart() {
    disable();
    enable();
}

void SetupService::uninstall() {
    requireInstalledBundle();
    const std::vector<std::string> files = platform_.paths.removableLegacyFiles();
    // Checked before anything changes: another account's application is only that account's to remove.
    if (FileSystem::linkStatus(bundlePath()).owner != platform_.process.userID()) {
        throw TessalyError(
            "This app is managed by another account. Disable audio memory, then ask its owner to remove the app.");
    }
    // Whether the bundle can go to the Trash is known before anything changes, not after disabling.
    const std::string bundle = bundlePath();
    platform_.workspace.trashFolderFor(bundle);
    disable();
    for (const auto& file : files) FileSystem::removeFile(file);
    platform_.workspace.trashItem(bundle);
}

void SetupService::requestAccessibility() {
    platform_.accessibility.isProcessTrustedWithOptions(true);
}

void SetupService::openAccessibilitySettings() {
    if (!platform_.workspace.openURL(accessibilitySettingsURL)) {
        throw TessalyError("Open System Settings > Privacy & Security > Accessibility manually.");
    }
}

void SetupService::openLoginSettings() {
    platform_.serviceManagement.openSystemSettingsLoginItems();
}

SetupSnapshot SetupService::snapshot() {
    SetupSnapshot snapshot;
    examine(snapshot);
    snapshot.version = std::string(version);
    snapshot.installed = installed();
    snapshot.accessibilityTrusted =
        snapshot.helper ? snapshot.helper->accessibilityTrusted : platform_.accessibility.isProcessTrusted();
    snapshot.registration = registration();
    return snapshot;
}

std::string SetupService::registration() {
    switch (loginItemStatus()) {
        case SMAppServiceStatusNotRegistered:
            return "not-registered";
        case SMAppServiceStatusEnabled:
            return "enabled";
        case SMAppServiceStatusRequiresApproval:
            return "requires-approval";
        case SMAppServiceStatusNotFound:
            return "not-found";
        default:
            return "unknown";
    }
}

bool SetupService::installed() {
    return platform_.paths.isInstalled(platform_.process.mainBundle().path);
}

CommandResult SetupService::command(const std::string& path, const std::vector<std::string>& arguments) {
    CommandResult result = platform_.commands.run(path, arguments);
    result.output = Utf8::trimmed(Utf8::repaired(result.output));
    return result;
}

void SetupService::launchctl(const std::vector<std::string>& arguments) {
    const CommandResult result = command(launchctlPath, arguments);
    if (result.exitCode == 0) return;
    throw TessalyError("launchctl " + arguments.front() + " failed: " + result.output);
}

std::optional<std::string> SetupService::legacyJob() {
    CommandResult result = command(launchctlPath, {"print", legacyServiceTarget()});
    if (result.exitCode == 0) return std::move(result.output);
    if (result.output.find("Could not find service") != std::string::npos) return std::nullopt;
    throw TessalyError("Cannot inspect the previous launch agent: " + result.output);
}

bool SetupService::legacyLoaded() {
    return legacyJob().has_value();
}

bool SetupService::bootOutLegacy(const std::string& job) {
    const bool besideLoginItem = loginItemServesPort(job);
    launchctl({"bootout", legacyServiceTarget()});
    return besideLoginItem;
}

void SetupService::waitForStoppedLegacy(bool besideLoginItem) {
    // The login item's helper keeps the port, so only launchd can tell that the legacy job ended.
    if (besideLoginItem) {
        waitUntilStopped([this] { return !legacyLoaded(); });
    } else {
        waitForStoppedHelper();
    }
}

bool SetupService::loginItemServesPort(const std::string& legacyJob) {
    if (loginItemStatus() != SMAppServiceStatusEnabled) return false;
    if (!StatusClient::isRunning(platform_.messagePorts, platform_.portName)) return false;
    std::int32_t portHelper = 0;
    try {
        portHelper = StatusClient::read(platform_.messagePorts, platform_.portName).pid;
    } catch (const Error&) {
        return false;  // a helper that cannot say who it is may be the legacy one
    }
    return jobProcess(legacyJob) != portHelper;
}

void SetupService::waitForStoppedHelper() {
    waitUntilStopped([this] { return !StatusClient::isRunning(platform_.messagePorts, platform_.portName); });
}

void SetupService::waitUntilStopped(const std::function<bool()>& stopped) {
    for (int round = 0; round < stoppedHelperRounds; ++round) {
        if (stopped()) return;
        platform_.sleep(stoppedHelperInterval);
    }
    throw TessalyError("The previous helper is still running. No replacement was started.");
}

void SetupService::waitForHealthyHelper() {
    std::string lastFailure;
    for (int round = 0; round < healthyHelperRounds; ++round) {
        try {
            // Made directly on the calling thread: see disable() for why that is safe here.
            StatusClient::read(platform_.messagePorts, platform_.portName).validate();
            return;
        } catch (const Error& failure) {
            lastFailure = failure.what();
        }
        platform_.sleep(healthyHelperInterval);
    }
    throw TessalyError(lastFailure);
}

void SetupService::requireInstalledBundle() {
    const MainBundle bundle = platform_.process.mainBundle();
    const auto executable = bundle.infoDictionary.find("CFBundleExecutable");
    const std::string* executableText =
        executable == bundle.infoDictionary.end() ? nullptr : executable->second.text();
    const bool isTessaly =
        bundle.identifier == bundleIdentifier && executableText && *executableText == executableName;
    if (!isTessaly || !platform_.paths.isInstalled(bundle.path)) {
        throw TessalyError("Move Tessaly.app into Applications, then open that copy to finish setup.");
    }

    const std::string running = FileSystem::standardizedPath(bundle.path);
    for (const auto& copy :
         {platform_.paths.userApplicationsCopy(), platform_.paths.systemApplicationsCopy()}) {
        if (copy != running && FileSystem::exists(copy)) {
            throw TessalyError("Another Tessaly.app exists at " + copy +
                               ". Keep one installed copy before continuing.");
        }
    }

    const std::string definition = running + "/Contents/Library/LaunchAgents/" + std::string(agentName);
    if (!InstallationPaths::existingRegularFile(definition)) {
        throw TessalyError("The bundled login-helper definition is missing. Reinstall Tessaly.");
    }
}

void SetupService::registerLoginItem() {
    const int status = loginItemStatus();
    if (status == SMAppServiceStatusEnabled) return;
    const std::string switchedOff =
        "Allow Tessaly in General > Login Items & Extensions before enabling audio memory.";
    if (status == SMAppServiceStatusRequiresApproval) throw TessalyError(switchedOff);
    if (status == SMAppServiceStatusNotRegistered || status == SMAppServiceStatusNotFound) {
        try {
            platform_.serviceManagement.registerService(std::string(agentName));
        } catch (const ServiceManagementError& error) {
            // Recent macOS refuses an item the user switched off, where older ones left it waiting.
            if (error.code() == kSMErrorLaunchDeniedByUser) throw TessalyError(switchedOff);
            throw;
        }
        return;
    }
    // Values macOS may add later, and any nonsense, are refused rather than guessed at.
    throw TessalyError("macOS returned an unknown login-helper registration state.");
}

void SetupService::rollBackRegistration(const std::string& failureText, const EnableState& state) {
    const int now = loginItemStatus();
    const bool registeredNow = now == SMAppServiceStatusEnabled || now == SMAppServiceStatusRequiresApproval;
    if (state.legacy && !state.wasRegistered && registeredNow) {
        try {
            platform_.serviceManagement.unregisterService(std::string(agentName));
        } catch (const std::exception& error) {
            // Restarting the legacy helper beside a live registration could start two helpers.
            throw TessalyError(failureText +
                               " The new registration could not be rolled back: " + error.what());
        }
    }
    if (state.legacyBootedOut) restartLegacy(failureText);
}

void SetupService::restartLegacy(const std::string& failureText) {
    try {
        launchctl({"bootstrap", userDomain(), platform_.paths.legacyAgent()});
    } catch (const std::exception& error) {
        throw TessalyError(failureText + " The previous helper could not be restarted: " + error.what());
    }
}

void SetupService::examine(SetupSnapshot& snapshot) {
    double savedVolume = 0;
    try {
        savedVolume = PreferenceStore::forHome(platform_.paths.home()).load().volume();
    } catch (const FileError& error) {
        if (error.code() != FileError::Code::noSuchFile) {
            snapshot.error = error.what();
            return;
        }
    } catch (const std::exception& error) {
        snapshot.error = error.what();
        return;
    }
    snapshot.volume = savedVolume;

    try {
        snapshot.legacyInstallation = platform_.paths.validateLegacyAgent();
    } catch (const std::exception& error) {
        snapshot.error = error.what();
        return;
    }
    examineHelper(snapshot);
}

void SetupService::examineHelper(SetupSnapshot& snapshot) {
    if (!StatusClient::isRunning(platform_.messagePorts, platform_.portName)) {
        if (loginItemStatus() == SMAppServiceStatusEnabled) {
            snapshot.error =
                "The login helper is registered but has not answered. Choose Restart Audio Memory.";
        }
        return;
    }
    try {
        snapshot.helper = StatusClient::read(platform_.messagePorts, platform_.portName);
    } catch (const std::exception& error) {
        snapshot.error = error.what();
        return;
    }
    snapshot.volume = snapshot.helper->volume;
    // A legacy helper answers in its own way; its health is judged once it has been migrated.
    if (snapshot.legacyInstallation) return;
    try {
        snapshot.helper->validate();
    } catch (const std::exception& error) {
        snapshot.error = error.what();
    }
}

int SetupService::loginItemStatus() {
    return platform_.serviceManagement.status(std::string(agentName));
}

std::string SetupService::bundlePath() const {
    return FileSystem::standardizedPath(platform_.process.mainBundle().path);
}

std::string SetupService::userDomain() const {
    return "gui/" + std::to_string(platform_.process.userID());
}

std::string SetupService::legacyServiceTarget() const {
    return userDomain() + "/" + InstallationPaths::legacyAgentLabel;
}

}  // namespace tessaly
