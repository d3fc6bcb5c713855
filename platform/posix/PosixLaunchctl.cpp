#include "posix/PosixLaunchctl.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "posix/DetachedProcess.h"
#include "posix/KeepAlive.h"
#include "posix/SupervisorLock.h"
#include "values/PropertyList.h"

namespace tessaly {

namespace {

// launchctl's exit codes for the failures the setup meets.
constexpr int noSuchProcess = 3;
constexpr int inputOutputError = 5;
constexpr int serviceNotFound = 113;
constexpr int serviceDisabled = 119;
constexpr int usageError = 64;

/// What bootstrap needs of an agent definition.
struct Agent {
    std::string label;
    std::string program;
    std::vector<std::string> arguments;
    bool runAtLoad = false;
    KeepAlive keepAlive = KeepAlive::never;
};

const std::string* textAt(const CFDictionary& keys, const std::string& key) {
    const auto found = keys.find(key);
    return found == keys.end() ? nullptr : found->second.text();
}

/// The definition's content; nothing when it is not one launchd would load.
std::optional<Agent> readAgent(const std::string& path) {
    try {
        const std::string bytes = FileSystem::readBounded(path, PropertyList::maximumSize);
        if (bytes.size() > PropertyList::maximumSize) return std::nullopt;
        const CFValue value = PropertyList::parse(bytes);
        const CFDictionary* keys = value.dictionary();
        if (keys == nullptr || textAt(*keys, "Label") == nullptr) return std::nullopt;
        Agent agent;
        agent.label = *textAt(*keys, "Label");
        if (const auto arguments = keys->find("ProgramArguments"); arguments != keys->end()) {
            if (arguments->second.array() == nullptr) return std::nullopt;
            for (const CFValue& argument : *arguments->second.array()) {
                if (argument.text() == nullptr) return std::nullopt;
                agent.arguments.push_back(*argument.text());
            }
        }
        const std::string* program = textAt(*keys, "Program");
        if (program == nullptr && agent.arguments.empty()) return std::nullopt;
        agent.program = program != nullptr ? *program : agent.arguments.front();
        if (agent.arguments.empty()) agent.arguments.push_back(agent.program);
        if (const auto runAtLoad = keys->find("RunAtLoad");
            runAtLoad != keys->end() && runAtLoad->second.boolean()) {
            agent.runAtLoad = *runAtLoad->second.boolean();
        }
        const auto keepAlive = keys->find("KeepAlive");
        agent.keepAlive = keepAliveOf(keepAlive == keys->end() ? nullptr : &keepAlive->second);
        if (!FileSystem::isPlainFileName(agent.label)) return std::nullopt;
        return agent;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool isPresent(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string stateFolderFromEnvironment() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    // The XDG base directory rules ignore a relative path.
    const std::string base = stateHome != nullptr && stateHome[0] == '/'
                                 ? std::string(stateHome)
                                 : FileSystem::homeDirectory() + "/.local/state";
    return base + "/tessaly";
}

}  // namespace

PosixLaunchctl::PosixLaunchctl(std::string stateFolder, double throttleInterval, double stopTimeout)
    : stateFolder_(std::move(stateFolder)), throttleInterval_(throttleInterval), stopTimeout_(stopTimeout) {}

PosixLaunchctl::PosixLaunchctl() : PosixLaunchctl(stateFolderFromEnvironment()) {}

CommandResult PosixLaunchctl::run(const std::string& program, const std::vector<std::string>& arguments) {
    if (program != path) return programs_.run(program, arguments);
    return launchctl(arguments);
}

void PosixLaunchctl::loadAgentsAtLogin(const std::string& folder) {
    DIR* agents = ::opendir(folder.c_str());
    if (agents == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(agents)) {
        const std::string name = entry->d_name;
        const std::string suffix = ".plist";
        if (name.front() != '.' && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    }
    ::closedir(agents);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat info {};
        if (::lstat((folder + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        try {
            bootstrap(folder + "/" + name);
        } catch (const std::exception&) {
            // launchd logs an agent it cannot load and goes on with the next.
        }
    }
}

CommandResult PosixLaunchctl::launchctl(const std::vector<std::string>& arguments) {
    if (arguments.size() == 3 && arguments[0] == "bootstrap" &&
        arguments[1] == "gui/" + std::to_string(::getuid())) {
        return bootstrap(arguments[2]);
    }
    const std::string label = arguments.size() == 2 ? labelOf(arguments[1]) : "";
    if (label.empty()) return {usageError, "Unrecognized target or subcommand.\n"};
    if (arguments[0] == "print") return print(label);
    if (arguments[0] == "bootout") return bootout(label);
    if (arguments[0] == "disable") return setDisabled(label, true);
    if (arguments[0] == "enable") return setDisabled(label, false);
    return {usageError, "Unrecognized subcommand: " + arguments[0] + "\n"};
}

CommandResult PosixLaunchctl::print(const std::string& label) {
    const std::string record = folder() + "/" + label;
    if (!isPresent(record)) {
        return {serviceNotFound, "Bad request.\nCould not find service \"" + label +
                                     "\" in domain for user gui: " + std::to_string(::getuid()) + "\n"};
    }
    const std::vector<ProcessID> programs = SupervisorLock(record + ".lock").programs();
    std::string definition;
    try {
        definition = FileSystem::readBounded(record, 4096);
    } catch (const FileError&) {
    }
    // As launchd does, the job's process is named only while it runs.
    const std::string process = programs.empty() ? "" : "\tpid = " + std::to_string(programs.front()) + "\n";
    return {0, "gui/" + std::to_string(::getuid()) + "/" + label + " = {\n\tpath = " + definition +
                   "\n\tstate = " + (programs.empty() ? "not running" : "running") + "\n" + process + "}\n"};
}

CommandResult PosixLaunchctl::bootstrap(const std::string& definitionPath) {
    const auto agent = readAgent(definitionPath);
    if (!agent) return {inputOutputError, "Bootstrap failed: 5: Input/output error\n"};
    const std::string record = folder() + "/" + agent->label;
    if (isPresent(folder() + "/" + agent->label + ".disabled")) {
        return {serviceDisabled, "Bootstrap failed: 119: Service is disabled\n"};
    }
    if (isPresent(record)) return {inputOutputError, "Bootstrap failed: 5: Input/output error\n"};
    FileSystem::createDirectories(folder(), 0700);
    FileSystem::writeAtomically(record, definitionPath, 0600);
    if (!agent->runAtLoad && agent->keepAlive == KeepAlive::never) return {0, ""};
    DetachedProcess::Supervision supervision;
    supervision.lockPath = record + ".lock";
    supervision.keepAlive = agent->keepAlive;
    supervision.throttleInterval = throttleInterval_;
    supervision.stopTimeout = stopTimeout_;
    try {
        DetachedProcess(agent->program, agent->arguments).supervise(supervision, [](ProcessID) {
            return true;
        });
    } catch (const FileError&) {
        // launchd loads a job whose program cannot run and reports that only in its log.
    }
    return {0, ""};
}

CommandResult PosixLaunchctl::bootout(const std::string& label) {
    const std::string record = folder() + "/" + label;
    if (!isPresent(record)) return {noSuchProcess, "Boot-out failed: 3: No such process\n"};
    if (!SupervisorLock(record + ".lock").stopHolders(stopTimeout_)) {
        return {inputOutputError, "Boot-out failed: 5: Input/output error\n"};
    }
    ::unlink(record.c_str());
    return {0, ""};
}

CommandResult PosixLaunchctl::setDisabled(const std::string& label, bool disabled) {
    const std::string marker = folder() + "/" + label + ".disabled";
    if (disabled) {
        FileSystem::createDirectories(folder(), 0700);
        FileSystem::writeAtomically(marker, "", 0600);
    } else if (::unlink(marker.c_str()) != 0 && errno != ENOENT) {
        throw FileError("Removing", marker, errno);
    }
    return {0, ""};
}

std::string PosixLaunchctl::labelOf(const std::string& target) const {
    const std::string domain = "gui/" + std::to_string(::getuid()) + "/";
    if (target.rfind(domain, 0) != 0) return "";
    const std::string label = target.substr(domain.size());
    return FileSystem::isPlainFileName(label) ? label : "";
}

}  // namespace tessaly
