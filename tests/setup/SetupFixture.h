#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "InstallationFixture.h"
#include "service/AudioStatus.h"
#include "setup/SetupService.h"
#include "simulated/SimulatedCommands.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedMessagePorts.h"
#include "simulated/SimulatedProcessEnvironment.h"
#include "simulated/SimulatedServiceManagement.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {

/// A setup service on the installation tree, with the application installed at
/// ~/Applications/Tessaly.app (agent definition included). Login items, launchctl, the desktop and the status
/// port are simulations. Like launchd, registering the login item starts a helper and unregistering it stops
/// the helper; the helper is a local port answering `helperStatus` and `flushReply`. Sleeps return at once
/// and are recorded; `onSleep` may change the world between rounds.
class SetupFixture : public InstallationFixture {
protected:
    static constexpr const char* portName = "com.orvanne.tessaly";
    static constexpr const char* agentName = "com.orvanne.tessaly.agent.plist";

    SetupFixture();

    /// A status that passes validation: audible at one half, trusted, no guard, no error.
    static AudioStatus healthyStatus();

    /// A helper starts serving the status port; nothing happens while one serves it already.
    void startHelper();
    /// The helper ends and gives the port up.
    void stopHelper();
    bool helperRunning() const { return ports.isServed(portName); }

    /// A copy of the application at `path`, with its Info.plist, executables and agent definition.
    static void makeBundle(const std::string& path);
    /// The application runs from `path` from now on.
    void runFrom(const std::string& path) { process.bundle.path = path; }

    /// The legacy installer's launch agent, naming the helper in the support folder.
    void installLegacyAgent();
    /// "gui/<uid>/com.orvanne.tessaly".
    std::string legacyTarget() const { return "gui/" + std::to_string(uid) + "/com.orvanne.tessaly"; }
    /// launchctl finds the legacy agent loaded; booting it out ends the running helper.
    void legacyAgentIsLoaded();
    /// launchctl does not find the legacy agent.
    void legacyAgentIsNotLoaded();
    /// Writes audio.json with this choice.
    void storeChoice(double volume, double unmutedVolume);
    /// What the service asked launchctl, argument vectors only.
    std::vector<std::vector<std::string>> launchctlCalls() const { return commands.argumentsRun(); }

    std::string bundle = paths.userApplicationsCopy();
    std::string audioFile = paths.supportFolder() + "/audio.json";

    VirtualRunLoop runLoop;
    SimulatedDesktop desktop{runLoop};
    SimulatedWorkspace workspace{desktop};
    SimulatedMessagePorts ports;
    SimulatedProcessEnvironment process;
    SimulatedServiceManagement serviceManagement{agentName};
    SimulatedCommands commands;

    /// Every sleep the service asked for, in seconds, in order.
    std::vector<double> sleeps;
    /// Runs after each sleep with the number of sleeps so far.
    std::function<void(std::size_t)> onSleep;

    /// What a running helper answers to a status request.
    AudioStatus helperStatus = healthyStatus();
    /// What a running helper answers to a flush request.
    std::string flushReply = "flushed";
    /// The message ids the helpers received, in order.
    std::vector<std::int32_t> helperRequests;

private:
    SetupPlatform platform();

    std::unique_ptr<LocalMessagePort> helperPort_;
    std::unique_ptr<MessagePortRunLoopSource> helperSource_;

protected:
    SetupService service{platform()};
};

}  // namespace tessaly::testing
