#include "SetupService.h"

#include <array>
#include <string_view>
#include <utility>

#include "FileError.h"
#include "FileSystem.h"
#include "PreferenceStore.h"
#include "StatusClient.h"
#include "TessalyError.h"
#include "Version.h"

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

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

/// The code point of the well-formed UTF-8 sequence of `length` bytes at `position`.
unsigned codePointAt(std::string_view text, std::size_t position, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[position]);
    unsigned codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[position + k]) & 0x3Fu);
    }
    return codePoint;
}

/// The length of the well-formed UTF-8 sequence at `position`, or 0 when it is not one.
std::size_t validSequenceLength(std::string_view bytes, std::size_t position) {
    const auto lead = static_cast<unsigned char>(bytes[position]);
    if (lead < 0x80) return 1;
    const std::size_t length = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || position + length > bytes.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(bytes[position + k]) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and values past U+10FFFF are not well-formed.
    static constexpr std::array<unsigned, 5> smallest{0, 0, 0x80, 0x800, 0x10000};
    const unsigned codePoint = codePointAt(bytes, position, length);
    if (codePoint < smallest[length] || codePoint > 0x10FFFF) return 0;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
    return length;
}

/// Program output as text: every byte that does not start a well-formed sequence becomes U+FFFD.
std::string repairedUTF8(std::string_view bytes) {
    std::string text;
    std::size_t position = 0;
    while (position < bytes.size()) {
        const std::size_t length = validSequenceLength(bytes, position);
        if (length == 0) {
            text += replacementCharacter;
            ++position;
            continue;
        }
        text.append(bytes.substr(position, length));
        position += length;
    }
    return text;
}

/// White space and line ends as Unicode counts them: tab to carriage return, next line, and the
/// space separators, line separator and paragraph separator.
bool isWhiteSpace(unsigned codePoint) {
    if ((codePoint >= 0x09 && codePoint <= 0x0D) || (codePoint >= 0x2000 && codePoint <= 0x200A)) return true;
    switch (codePoint) {
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000: return true;
        default: return false;
    }
}

/// `text` (well-formed UTF-8) without white space and line ends at either end.
std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t length = validSequenceLength(text, begin);
        if (!isWhiteSpace(codePointAt(text, begin, length))) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        if (!isWhiteSpace(codePointAt(text, start, end - start))) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace

SetupService::SetupService(SetupPlatform platform) : platform_(std::move(platform)) {}

void SetupService::enable() {
    requireInstalledBundle();
    EnableState state;
    state.legacy = platform_.paths.validateLegacyAgent();
    if (state.legacy) {
        if (legacyLoaded()) {
            stopLegacy();
            state.legacyBootedOut = true;
        } else {
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
    if (state.legacy) fs::removeFile(platform_.paths.legacyAgent());
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
        if (legacyLoaded()) stopLegacy();
    }

    const int status = loginItemStatus();
    if (status != SMAppServiceStatusEnabled && status != SMAppServiceStatusRequiresApproval) {
        waitForStoppedHelper();
        return;
    }
    // A choice the helper cannot save would be lost with it, so the item stays registered then.
    // On macOS this request runs in a detached task to keep the main thread free; here the service
    // runs on a worker thread already, and the request is bounded by its two time-outs.
    StatusClient::flushIfRunning(platform_.messagePorts, platform_.portName);
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
    if (fs::linkStatus(bundlePath()).owner != platform_.process.userID()) {
        throw TessalyError(
            "This app is managed by another account. Disable audio memory, then ask its owner to remove the "
            "app.");
    }
    disable();
    for (const auto& file : files) fs::removeFile(file);
    platform_.workspace.trashItem(bundlePath());
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
        case SMAppServiceStatusNotRegistered: return "not-registered";
        case SMAppServiceStatusEnabled: return "enabled";
        case SMAppServiceStatusRequiresApproval: return "requires-approval";
        case SMAppServiceStatusNotFound: return "not-found";
        default: return "unknown";
    }
}

bool SetupService::installed() {
    return platform_.paths.isInstalled(platform_.process.mainBundle().path);
}

CommandResult SetupService::command(const std::string& path, const std::vector<std::string>& arguments) {
    CommandResult result = platform_.commands.run(path, arguments);
    result.output = trimmed(repairedUTF8(result.output));
    return result;
}

void SetupService::launchctl(const std::vector<std::string>& arguments) {
    const CommandResult result = command(launchctlPath, arguments);
    if (result.exitCode == 0) return;
    throw TessalyError("launchctl " + arguments.front() + " failed: " + result.output);
}

bool SetupService::legacyLoaded() {
    const CommandResult result = command(launchctlPath, {"print", legacyServiceTarget()});
    if (result.exitCode == 0) return true;
    if (result.output.find("Could not find service") != std::string::npos) return false;
    throw TessalyError("Cannot inspect the previous launch agent: " + result.output);
}

void SetupService::stopLegacy() {
    launchctl({"bootout", legacyServiceTarget()});
    waitForStoppedHelper();
}

void SetupService::waitForStoppedHelper() {
    for (int round = 0; round < stoppedHelperRounds; ++round) {
        if (!StatusClient::isRunning(platform_.messagePorts, platform_.portName)) return;
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

    const std::string running = fs::standardizedPath(bundle.path);
    for (const auto& copy :
         {platform_.paths.userApplicationsCopy(), platform_.paths.systemApplicationsCopy()}) {
        if (copy != running && fs::exists(copy)) {
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
    if (status == SMAppServiceStatusRequiresApproval) {
        throw TessalyError(
            "Allow Tessaly in General > Login Items & Extensions before enabling audio memory.");
    }
    if (status == SMAppServiceStatusNotRegistered || status == SMAppServiceStatusNotFound) {
        platform_.serviceManagement.registerService(std::string(agentName));
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
    if (!state.legacyBootedOut) return;
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
    return fs::standardizedPath(platform_.process.mainBundle().path);
}

std::string SetupService::userDomain() const {
    return "gui/" + std::to_string(platform_.process.userID());
}

std::string SetupService::legacyServiceTarget() const {
    return userDomain() + "/" + InstallationPaths::legacyAgentLabel;
}

}  // namespace tessaly
