// The legacy launch agent as anything may have replaced it: the check either recognises exactly
// the legacy installer's agent or throws one of the system's errors. "$HOME" in the input stands
// for the home folder the check runs in (a folder of the fuzzing process's own), so that seeds can
// name the two helper paths a recognised agent holds.

#include <string>

#include "FuzzInput.h"
#include "foundation/Error.h"
#include "setup/InstallationPaths.h"
#include "values/PropertyList.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string home = fuzz::scratchFolder() + "/legacy";
    static const InstallationPaths paths = [] {
        FileSystem::createDirectories(home + "/Library/LaunchAgents", 0700);
        return InstallationPaths(home, home + "/System Applications", FileSystem::currentUserID());
    }();
    std::string bytes(fuzz::bytesOf(data, size));
    for (auto at = bytes.find("$HOME"); at != std::string::npos; at = bytes.find("$HOME", at + home.size())) {
        bytes.replace(at, 5, home);
    }
    fuzz::putFile(paths.legacyAgent(), bytes);

    try {
        if (!paths.validateLegacyAgent()) fuzz::require(false, "an agent file that is present is examined");
    } catch (const Error&) {
        return 0;
    }
    const CFValue agent = PropertyList::parse(bytes);
    const CFDictionary& keys = *agent.dictionary();
    const CFArray& arguments = *keys.at("ProgramArguments").array();
    fuzz::require(keys.at("Label") == CFValue(InstallationPaths::legacyAgentLabel),
                  "a recognised agent has the label");
    fuzz::require(arguments.size() == 2 && arguments[1] == CFValue("run"),
                  "a recognised agent runs the helper");
    fuzz::require(arguments[0] == CFValue(paths.installedHelper()) ||
                      arguments[0] == CFValue(paths.legacySupportHelper()),
                  "a recognised agent names one of the two helpers");
    return 0;
}
