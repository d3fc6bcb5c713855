#include "posix/PosixServiceManagement.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/DecodingError.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "posix/DetachedProcess.h"
#include "values/PropertyList.h"

namespace tessaly {

namespace {

constexpr const char* enabledState = "enabled";
constexpr const char* requiresApprovalState = "requires-approval";
constexpr std::size_t recordLimit = 64 * 1024;
/// How long processes may take to vanish after SIGKILL before unregistering gives up.
constexpr double killTimeout = 2;
constexpr auto pollInterval = std::chrono::milliseconds(20);

/// What a record remembers of the supervisor it started.
struct SupervisorIdentity {
    ProcessID pid = 0;
    std::uint64_t startTime = 0;  // clock ticks after boot, from /proc/<pid>/stat
    ProcessID session = 0;
};

struct Record {
    std::string state;
    std::optional<SupervisorIdentity> supervisor;
};

/// The program and argument vector an agent definition names.
struct AgentProgram {
    std::string program;
    std::vector<std::string> arguments;
};

/// What /proc tells about a process.
struct ProcessFacts {
    char state = '?';
    ProcessID session = 0;
    std::uint64_t startTime = 0;
    std::uint32_t owner = 0;
};

void requireFileName(const std::string& plistName) {
    if (!fs::isPlainFileName(plistName)) {
        throw TessalyError("The login item name " + fs::quoted(plistName) + " is not a plain file name.");
    }
}

// ---- Processes, as /proc shows them. ----

std::optional<std::string> readProcFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<std::size_t>(count));
    ::close(fd);
    if (count < 0) return std::nullopt;
    return content;
}

/// /proc/<pid>/stat: "pid (name) state ppid pgrp session ... starttime ..."; the name may hold
/// spaces and parentheses, so the fields are counted from the last ')'.
std::optional<ProcessFacts> processFacts(ProcessID pid) {
    const std::string folder = "/proc/" + std::to_string(pid);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return std::nullopt;
    const auto line = readProcFile(folder + "/stat");
    if (!line) return std::nullopt;
    const auto nameEnd = line->rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(line->substr(nameEnd + 1));
    std::vector<std::string> values;
    for (std::string value; fields >> value;) values.push_back(value);
    // Counted from the state (field 3): session is field 6, starttime field 22.
    constexpr std::size_t sessionIndex = 3;
    constexpr std::size_t startTimeIndex = 19;
    if (values.size() <= startTimeIndex || values[0].size() != 1) return std::nullopt;
    ProcessFacts facts;
    facts.state = values[0][0];
    facts.owner = info.st_uid;
    try {
        facts.session = static_cast<ProcessID>(std::stol(values[sessionIndex]));
        facts.startTime = std::stoull(values[startTimeIndex]);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return facts;
}

bool isGone(const ProcessFacts& facts) {
    return facts.state == 'Z' || facts.state == 'X';
}

std::vector<ProcessID> allProcesses() {
    std::vector<ProcessID> pids;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return pids;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        if (name.size() <= 9) pids.push_back(static_cast<ProcessID>(std::stol(name)));
    }
    ::closedir(proc);
    return pids;
}

/// One look at the live processes the supervisor's session holds: the supervisor, the program and
/// what it started. A live process that now has the session's number as its pid means the number
/// was given out again (the system never does that while a member lives): nothing of ours is left
/// then, and nothing is touched.
std::vector<ProcessID> scanSession(const SupervisorIdentity& supervisor) {
    if (const auto leader = processFacts(supervisor.session); leader && !isGone(*leader)) return {};
    std::vector<ProcessID> members;
    const std::uint32_t user = ::getuid();
    for (ProcessID pid : allProcesses()) {
        const auto facts = processFacts(pid);
        if (!facts || isGone(*facts)) continue;
        if (facts->session != supervisor.session || facts->owner != user) continue;
        if (facts->startTime < supervisor.startTime) continue;
        if (pid == supervisor.pid && facts->startTime != supervisor.startTime) continue;
        members.push_back(pid);
    }
    return members;
}

/// The session's live processes. /proc is listed first and read after, so a member may start a
/// child and end between the two and leave the child unseen; a member that has ended cannot start
/// another, so a second look after an empty one sees such a child.
std::vector<ProcessID> sessionMembers(const SupervisorIdentity& supervisor) {
    std::vector<ProcessID> members = scanSession(supervisor);
    return members.empty() ? scanSession(supervisor) : members;
}

bool contains(const std::vector<ProcessID>& pids, ProcessID pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

/// Polls until the session is empty or `seconds` have passed; what is still alive. Once the
/// supervisor is gone, each remaining process gets `signal` once: what the program left behind is
/// stopped directly.
std::vector<ProcessID> waitForSession(const SupervisorIdentity& supervisor, double seconds, int signal,
                                      std::set<ProcessID>& signalled) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        std::vector<ProcessID> members = sessionMembers(supervisor);
        if (members.empty() || std::chrono::steady_clock::now() >= deadline) return members;
        if (!contains(members, supervisor.pid)) {
            for (ProcessID pid : members) {
                if (signalled.insert(pid).second) ::kill(pid, signal);
            }
        }
        std::this_thread::sleep_for(pollInterval);
    }
}

void stopSession(const SupervisorIdentity& supervisor, double stopTimeout, const std::string& plistName) {
    std::vector<ProcessID> members = sessionMembers(supervisor);
    if (members.empty()) return;
    std::set<ProcessID> terminated;
    if (contains(members, supervisor.pid)) {
        terminated.insert(supervisor.pid);
        ::kill(supervisor.pid, SIGTERM);
    }
    members = waitForSession(supervisor, stopTimeout, SIGTERM, terminated);
    if (members.empty()) return;
    for (ProcessID pid : members) ::kill(pid, SIGKILL);
    std::set<ProcessID> killed(members.begin(), members.end());
    if (waitForSession(supervisor, killTimeout, SIGKILL, killed).empty()) return;
    throw TessalyError("The login item " + fs::quoted(plistName) + " did not stop; it stays registered.");
}

// ---- The agent definition and the record. ----

[[noreturn]] void refuseDefinition(const std::string& path, const std::string& reason) {
    throw TessalyError("The agent definition " + fs::quoted(path) + " cannot be used: " + reason + ".");
}

/// BundleProgram inside the bundle and the ProgramArguments (or the program alone).
AgentProgram readAgentDefinition(const std::string& bundlePath, const std::string& path) {
    const std::string bytes = fs::readBounded(path, PropertyList::maximumSize);
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
    const std::string relative = fs::standardizedPath(*bundleProgram->second.text());
    const bool climbsOut = relative == ".." || relative.rfind("../", 0) == 0;
    if (relative.empty() || relative == "." || relative.front() == '/' || climbsOut) {
        refuseDefinition(path, "its BundleProgram is not a path inside the application bundle");
    }
    AgentProgram agent;
    agent.program = bundlePath + "/" + relative;

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

std::optional<std::int64_t> wholeNumber(const CFDictionary& keys, const std::string& key, double lowest,
                                        double highest) {
    const auto found = keys.find(key);
    if (found == keys.end() || !found->second.number()) return std::nullopt;
    const double value = *found->second.number();
    if (!(value >= lowest && value <= highest) || std::floor(value) != value) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

/// The record's content; nothing when it cannot be read or is damaged.
std::optional<Record> readRecord(const std::string& path) {
    try {
        const std::string bytes = fs::readBounded(path, recordLimit);
        if (bytes.size() > recordLimit) return std::nullopt;
        const CFValue value = PropertyList::parse(bytes);
        const CFDictionary* keys = value.dictionary();
        if (keys == nullptr) return std::nullopt;
        Record record;
        if (const auto state = keys->find("State"); state != keys->end() && state->second.text()) {
            record.state = *state->second.text();
        }
        constexpr double largestPid = 2147483647;
        const auto pid = wholeNumber(*keys, "SupervisorProcessIdentifier", 2, largestPid);
        const auto startTime = wholeNumber(*keys, "SupervisorStartTime", 0, 9007199254740992.0);
        const auto session = wholeNumber(*keys, "SupervisorSession", 2, largestPid);
        if (pid && startTime && session) {
            record.supervisor =
                SupervisorIdentity{static_cast<ProcessID>(*pid), static_cast<std::uint64_t>(*startTime),
                                   static_cast<ProcessID>(*session)};
        }
        return record;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void writeRecord(const std::string& path, const std::string& state, const std::string& bundlePath,
                 const std::string& program, const std::optional<SupervisorIdentity>& supervisor) {
    CFDictionary keys{{"State", state}, {"Bundle", bundlePath}, {"Program", program}};
    if (supervisor) {
        keys.emplace("SupervisorProcessIdentifier", static_cast<double>(supervisor->pid));
        keys.emplace("SupervisorStartTime", static_cast<double>(supervisor->startTime));
        keys.emplace("SupervisorSession", static_cast<double>(supervisor->session));
    }
    fs::writeAtomically(path, PropertyList::writeXml(CFValue(keys)), 0600);
}

/// Whether anything is at `path`; a path that cannot be examined for another reason than a
/// missing part counts as present.
bool mayBePresent(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

PosixServiceManagement::Settings PosixServiceManagement::Settings::fromEnvironment() {
    Settings settings;
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    // The XDG base directory rules ignore a relative path.
    const std::string base = stateHome != nullptr && stateHome[0] == '/'
                                 ? std::string(stateHome)
                                 : fs::homeDirectory() + "/.local/state";
    settings.stateFolder = base + "/tessaly";
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

int PosixServiceManagement::status(const std::string& plistName) {
    if (!fs::isPlainFileName(plistName)) return SMAppServiceStatusNotFound;
    const std::string record = recordPath(plistName);
    if (mayBePresent(record)) {
        const auto content = readRecord(record);
        if (content && content->state == requiresApprovalState) return SMAppServiceStatusRequiresApproval;
        return SMAppServiceStatusEnabled;
    }
    const std::string definition = bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName;
    return isRegularFile(definition) ? SMAppServiceStatusNotRegistered : SMAppServiceStatusNotFound;
}

void PosixServiceManagement::registerService(const std::string& plistName) {
    requireFileName(plistName);
    const std::string record = recordPath(plistName);
    if (mayBePresent(record)) return;  // registered: nothing is started again
    const std::string definition = bundlePath_ + "/Contents/Library/LaunchAgents/" + plistName;
    const AgentProgram agent = readAgentDefinition(bundlePath_, definition);
    prepareRecordFolder();
    if (settings_.requireApproval) {
        writeRecord(record, requiresApprovalState, bundlePath_, agent.program, std::nullopt);
        return;
    }

    bool recordWritten = false;
    try {
        DetachedProcess(agent.program, agent.arguments)
            .supervise(settings_.restartInterval, [&](ProcessID supervisor) {
                // The supervisor waits for this record before it starts anything, so it is alive here.
                const auto facts = processFacts(supervisor);
                if (!facts) throw FileError("Launching", agent.program, ESRCH);
                writeRecord(record, enabledState, bundlePath_, agent.program,
                            SupervisorIdentity{supervisor, facts->startTime, facts->session});
                recordWritten = true;
            });
    } catch (...) {
        if (recordWritten) ::unlink(record.c_str());
        throw;
    }
}

void PosixServiceManagement::unregisterService(const std::string& plistName) {
    if (!fs::isPlainFileName(plistName)) return;  // such a name was never registered
    const std::string record = recordPath(plistName);
    if (!mayBePresent(record)) return;
    if (const auto content = readRecord(record); content && content->supervisor) {
        stopSession(*content->supervisor, settings_.stopTimeout, plistName);
    }
    if (::unlink(record.c_str()) != 0 && errno != ENOENT) throw FileError("Removing", record, errno);
}

void PosixServiceManagement::openSystemSettingsLoginItems() {}

void PosixServiceManagement::prepareRecordFolder() const {
    // Checked before and after creating: a linked folder is refused before anything is made in it.
    for (const std::string& path : {settings_.stateFolder, settings_.stateFolder + "/login-items"}) {
        if (!mayBePresent(path)) fs::createDirectories(path, 0700);
        const fs::LinkStatus status = fs::linkStatus(path);
        if (!status.isDirectory || status.owner != fs::currentUserID()) {
            throw TessalyError("The login item folder " + fs::quoted(path) +
                               " is not a folder of this user; Tessaly does not follow links there.");
        }
    }
}

}  // namespace tessaly
