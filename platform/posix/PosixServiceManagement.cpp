#include "posix/PosixServiceManagement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "foundation/DecodingError.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "posix/DetachedProcess.h"
#include "posix/KeepAlive.h"
#include "posix/SupervisorLock.h"
#include "values/PropertyList.h"

namespace tessaly {

namespace {

constexpr const char* enabledState = "enabled";
constexpr const char* requiresApprovalState = "requires-approval";
/// Beside the record: the user switched the item off in Login Items settings.
constexpr const char* switchedOffSuffix = ".switched-off";
constexpr std::size_t recordLimit = 64 * 1024;
/// Seconds a change waits for another change to the same item beyond that change's stop timeout.
constexpr double claimPatience = 10;

enum class RecordState { absent, enabled, requiresApproval, unreadable };

/// The program, argument vector and KeepAlive an agent definition names.
struct AgentProgram {
    std::string program;
    std::vector<std::string> arguments;
    KeepAlive keepAlive = KeepAlive::never;
};

void requireFileName(const std::string& plistName) {
    if (!FileSystem::isPlainFileName(plistName)) {
        throw TessalyError("The login item name " + FileSystem::quoted(plistName) +
                           " is not a plain file name.");
    }
}

/// The exclusive right to change one item's record, held for one registration or unregistration.
class Claim {
public:
    Claim(const std::string& path, double seconds)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
        if (!fd_) throw FileError("Opening", path, errno);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) throw FileError("Locking", path, errno);
            if (std::chrono::steady_clock::now() >= deadline) {
                throw TessalyError("Another change to the login item " + FileSystem::quoted(path) +
                                   " did not finish.");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Unlocked explicitly: a forked child may still share the open file for a moment.
    ~Claim() { ::flock(fd_.get(), LOCK_UN); }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

private:
    FileSystem::FileDescriptor fd_;
};

// ---- The agent definition and the record. ----

[[noreturn]] void refuseDefinition(const std::string& path, const std::string& reason) {
    throw TessalyError("The agent definition " + FileSystem::quoted(path) + " cannot be used: " + reason +
                       ".");
}

/// BundleProgram inside the bundle and the ProgramArguments (or the program alone).
AgentProgram readAgentDefinition(const std::string& bundlePath, const std::string& path) {
    const std::string bytes = FileSystem::readBounded(path, PropertyList::maximumSize);
    if (bytes.size() > PropertyList::maximumSize) refuseDefinition(path, "it is too large");
    std::optional<CFValue> definition;
    try {
        definition = PropertyList::parse(bytes);
    } catch (const DecodingError&) {
        refuseDefinition(path, "it is not a property list");
    }
    const CFDictionary* keys = definition->dictionary();
    if (keys == nullptr) refuseDefinition(path, "it is not a dictionary");

    const auto bundleProgram = keys->find("BundleProgram");
    if (bundleProgram == keys->end() || !bundleProgram->second.text()) {
        refuseDefinition(path, "it names no BundleProgram");
    }
    const std::string relative = FileSystem::standardizedPath(*bundleProgram->second.text());
    const bool climbsOut = relative == ".." || relative.rfind("../", 0) == 0;
    if (relative.empty() || relative == "." || relative.front() == '/' || climbsOut) {
        refuseDefinition(path, "its BundleProgram is not a path inside the application bundle");
    }
    AgentProgram agent;
    agent.program = bundlePath + "/" + relative;

    const auto keepAlive = keys->find("KeepAlive");
    agent.keepAlive = keepAliveOf(keepAlive == keys->end() ? nullptr : &keepAlive->second);
    const auto programArguments = keys->find("ProgramArguments");
    if (programArguments == keys->end()) {
        agent.arguments = {*bundleProgram->second.text()};
        return agent;
    }
    const CFArray* arguments = programArguments->second.array();
    if (arguments == nullptr || arguments->empty())
        refuseDefinition(path, "its ProgramArguments are not a list");
    for (const CFValue& argument : *arguments) {
        if (!argument.text()) refuseDefinition(path, "its ProgramArguments are not all texts");
        agent.arguments.push_back(*argument.text());
    }
    return agent;
}

RecordState recordState(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? RecordState::absent : RecordState::unreadable;
    }
    try {
        const std::string bytes = FileSystem::readBounded(path, recordLimit);
        if (bytes.size() > recordLimit) return RecordState::unreadable;
        const CFValue value = PropertyList::parse(bytes);
        const CFDictionary* keys = value.dictionary();
        const auto state = keys == nullptr ? CFDictionary::const_iterator() : keys->find("State");
        if (keys == nullptr || state == keys->end() || !state->second.text()) return RecordState::unreadable;
        if (*state->second.text() == enabledState) return RecordState::enabled;
        if (*state->second.text() == requiresApprovalState) return RecordState::requiresApproval;
    } catch (const std::exception&) {
    }
    return RecordState::unreadable;
}

void writeRecord(const std::string& path, const std::string& state, const std::string& bundlePath,
                 const std::string& program) {
    const CFDictionary keys{{"State", state}, {"Bundle", bundlePath}, {"Program", program}};
    FileSystem::writeAtomically(path, PropertyList::writeXml(CFValue(keys)), 0600);
}

void removeIfPresent(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FileError("Removing", path, errno);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

/// A path as one argument of a desktop entry's Exec key: quoted, with the characters the quoting
/// reserves escaped, then the backslashes doubled as every string value of a desktop entry needs.
std::string execArgument(const std::string& text) {
    std::string quoted = "\"";
    for (const char character : text) {
        if (character == '\\') {
            quoted += "\\\\\\\\";
            continue;
        }
        if (character == '"' || character == '`' || character == '$') quoted += "\\\\";
        quoted += character;
    }
    return quoted + "\"";
}

std::string absoluteBase(const char* variable, const std::string& fallback) {
    const char* value = std::getenv(variable);
    // The XDG base directory rules ignore a relative path.
    return value != nullptr && value[0] == '/' ? std::string(value) : FileSystem::homeDirectory() + fallback;
}

}  // namespace

PosixServiceManagement::Settings PosixServiceManagement::Settings::fromEnvironment() {
    Settings settings;
    settings.stateFolder = absoluteBase("XDG_STATE_HOME", "/.local/state") + "/tessaly";
    settings.autostartFolder = absoluteBase("XDG_CONFIG_HOME", "/.config") + "/autostart";
    const char* requireApproval = std::getenv("TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL");
    settings.requireApproval = requireApproval != nullptr && std::string(requireApproval) == "1";
    return settings;
}

PosixServiceManagement::PosixServiceManagement(std::string bundlePath)
    : PosixServiceManagement(std::move(bundlePath), Settings::fromEnvironment()) {}

PosixServiceManagement::PosixServiceManagement(std::string bundlePath, Settings settings)
    : bundlePath_(std::move(bundlePath)), settings_(std::move(settings)) {}

std::string PosixServiceManagement::recordPath(const std::string& plistName) const {
    return settings_.stateFolder + "/login-items/" + plistName;
}

std::string PosixServiceManagement::autostartPath(const std::string& plistName) const {
    const std::string suffix = ".plist";
    std::string label = plistName;
    if (label.size() > suffix.size() &&
        label.compare(label.size() - suffix.size(), suffix.size(), suffix) == 0) {
        label.resize(label.size() - suffix.size());
    }
    return settings_.autostartFolder + "/" + label + ".desktop";
}

int PosixServiceManagement::status(const std::string& plistName) {
    if (!FileSystem::isPlainFileName(plistName)) return SMAppServiceStatusNotFound;
    switch (recordState(recordPath(plistName))) {
        case RecordState::enabled:
            return SMAppServiceStatusEnabled;
        case RecordState::requiresApproval:
            return SMAppServiceStatusRequiresApproval;
        case RecordState::unreadable:
            return unreadableRecordStatus;
        case RecordState::absent:
            break;
    }
    const std::string definition = bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName;
    return isRegularFile(definition) ? SMAppServiceStatusNotRegistered : SMAppServiceStatusNotFound;
}

void PosixServiceManagement::registerService(const std::string& plistName) {
    requireFileName(plistName);
    const std::string record = recordPath(plistName);
    if (recordState(record) != RecordState::absent) return;  // registered: nothing is started again
    const AgentProgram agent =
        readAgentDefinition(bundlePath_, bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName);
    prepareFolder(settings_.stateFolder);
    prepareFolder(settings_.stateFolder + "/login-items");

    const Claim claim(record + ".claim", settings_.stopTimeout + claimPatience);
    if (recordState(record) != RecordState::absent) return;  // another registration came first
    if (isRegularFile(record + switchedOffSuffix)) {
        writeRecord(record, requiresApprovalState, bundlePath_, agent.program);
        throw ServiceManagementError(kSMErrorLaunchDeniedByUser, "Operation not permitted");
    }
    if (settings_.requireApproval) {
        writeRecord(record, requiresApprovalState, bundlePath_, agent.program);
        return;
    }
    switchOn(plistName, agent.program, nullptr);
}

void PosixServiceManagement::switchOn(const std::string& plistName, const std::string& program,
                                      const char* stateBefore) {
    const std::string record = recordPath(plistName);
    writeRecord(record, enabledState, bundlePath_, program);
    try {
        writeAutostartEntry(plistName);
        launch(plistName);
    } catch (...) {
        ::unlink(autostartPath(plistName).c_str());
        if (stateBefore == nullptr) {
            ::unlink(record.c_str());
        } else {
            writeRecord(record, stateBefore, bundlePath_, program);
        }
        throw;
    }
}

void PosixServiceManagement::unregisterService(const std::string& plistName) {
    if (!FileSystem::isPlainFileName(plistName)) return;  // such a name was never registered
    const std::string record = recordPath(plistName);
    if (recordState(record) == RecordState::absent) return;
    const Claim claim(record + ".claim", settings_.stopTimeout + claimPatience);
    if (recordState(record) == RecordState::absent) return;  // another unregistration came first
    if (!SupervisorLock(record + ".lock").stopHolders(settings_.stopTimeout)) {
        throw TessalyError("The login item " + FileSystem::quoted(plistName) +
                           " did not stop; it stays registered.");
    }
    removeIfPresent(autostartPath(plistName));
    removeIfPresent(record);
}

void PosixServiceManagement::openSystemSettingsLoginItems() {
    DIR* agents = ::opendir((bundlePath_ + "/Contents/Library/LaunchAgents").c_str());
    if (agents == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(agents)) {
        if (FileSystem::isPlainFileName(entry->d_name) && entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    ::closedir(agents);
    for (const std::string& plistName : names) approve(plistName);
}

void PosixServiceManagement::approve(const std::string& plistName) {
    const std::string record = recordPath(plistName);
    try {
        removeIfPresent(record + switchedOffSuffix);
        if (recordState(record) != RecordState::requiresApproval) return;
        const AgentProgram agent =
            readAgentDefinition(bundlePath_, bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName);
        const Claim claim(record + ".claim", settings_.stopTimeout + claimPatience);
        if (recordState(record) != RecordState::requiresApproval) return;
        // An item that cannot start stays switched off, as the window keeps saying.
        switchOn(plistName, agent.program, requiresApprovalState);
    } catch (const std::exception&) {
        // Opening the settings cannot fail; the item's state tells what happened.
    }
}

void PosixServiceManagement::switchOff(const std::string& plistName) {
    requireFileName(plistName);
    const std::string record = recordPath(plistName);
    prepareFolder(settings_.stateFolder);
    prepareFolder(settings_.stateFolder + "/login-items");
    const Claim claim(record + ".claim", settings_.stopTimeout + claimPatience);
    FileSystem::writeAtomically(record + switchedOffSuffix, "", 0600);
    if (recordState(record) != RecordState::enabled) return;
    if (!SupervisorLock(record + ".lock").stopHolders(settings_.stopTimeout)) {
        throw TessalyError("The login item " + FileSystem::quoted(plistName) + " did not stop.");
    }
    removeIfPresent(autostartPath(plistName));
    const AgentProgram agent =
        readAgentDefinition(bundlePath_, bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName);
    writeRecord(record, requiresApprovalState, bundlePath_, agent.program);
}

void PosixServiceManagement::startAtLogin(const std::string& plistName) {
    requireFileName(plistName);
    const std::string record = recordPath(plistName);
    if (recordState(record) != RecordState::enabled) return;
    const Claim claim(record + ".claim", settings_.stopTimeout + claimPatience);
    if (recordState(record) == RecordState::enabled) launch(plistName);
}

void PosixServiceManagement::launch(const std::string& plistName) {
    const std::string record = recordPath(plistName);
    const AgentProgram agent =
        readAgentDefinition(bundlePath_, bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName);
    DetachedProcess::Supervision supervision;
    supervision.lockPath = record + ".lock";
    supervision.keepAlive = agent.keepAlive;
    supervision.throttleInterval = settings_.throttleInterval;
    supervision.stopTimeout = settings_.stopTimeout;
    // A supervisor that runs already (its lock is held) is this item's: nothing more is started.
    DetachedProcess(agent.program, agent.arguments).supervise(supervision, [&](ProcessID) {
        return recordState(record) == RecordState::enabled;
    });
}

void PosixServiceManagement::writeAutostartEntry(const std::string& plistName) const {
    prepareFolder(settings_.autostartFolder);
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=Tessaly\nComment=Starts Tessaly's login helper, as macOS does for its login items\nExec=" +
        execArgument(bundlePath_ + "/Contents/MacOS/tessaly-login") + " start " + execArgument(plistName) +
        "\nNoDisplay=true\nTerminal=false\n";
    FileSystem::writeAtomically(autostartPath(plistName), entry, 0600);
}

void PosixServiceManagement::prepareFolder(const std::string& path) const {
    // Checked after creating: a linked folder is refused before anything is made in it.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        FileSystem::createDirectories(path, 0700);
    }
    const FileSystem::LinkStatus status = FileSystem::linkStatus(path);
    if (!status.isDirectory || status.owner != FileSystem::currentUserID()) {
        throw TessalyError("The login item folder " + FileSystem::quoted(path) +
                           " is not a folder of this user; Tessaly does not follow links there.");
    }
}

}  // namespace tessaly
