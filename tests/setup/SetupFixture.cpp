#include "SetupFixture.h"

#include "foundation/Version.h"
#include "preference/PreferenceStore.h"
#include "service/ServiceRequest.h"
#include "service/StatusReply.h"
#include "values/CFValue.h"
#include "values/PropertyList.h"

namespace tessaly::testing {

SetupFixture::SetupFixture() {
    makeBundle(bundle);
    FileSystem::createDirectories(systemApplications, 0755);
    process.bundle.path = bundle;
    process.uid = uid;
    serviceManagement.onRegister([this] { startHelper(); });
    serviceManagement.onUnregister([this] { stopHelper(); });
}

AudioStatus SetupFixture::healthyStatus() {
    AudioStatus status;
    status.version = std::string(version);
    status.pid = 812;
    status.mode = "remember-volume";
    status.accessibilityTrusted = true;
    status.volume = 0.5;
    status.unmutedVolume = 0.5;
    status.muted = false;
    return status;
}

void SetupFixture::startHelper() {
    if (helperRunning()) return;
    auto creation = ports.createLocal(portName, [this](std::int32_t messageID) -> std::optional<std::string> {
        helperRequests.push_back(messageID);
        if (messageID == static_cast<std::int32_t>(ServiceRequest::status)) {
            return StatusReply{helperStatus, std::nullopt}.encode();
        }
        if (messageID == static_cast<std::int32_t>(ServiceRequest::flush)) return flushReply;
        return std::nullopt;
    });
    ASSERT_TRUE(creation.port);
    helperPort_ = std::move(creation.port);
    helperSource_ = helperPort_->createRunLoopSource();
}

void SetupFixture::stopHelper() {
    helperSource_.reset();
    helperPort_.reset();
}

void SetupFixture::makeBundle(const std::string& path) {
    const CFDictionary info{{"CFBundleIdentifier", "com.orvanne.tessaly"}, {"CFBundleExecutable", "Tessaly"}};
    writeFile(path + "/Contents/Info.plist", PropertyList::writeXml(info));
    writeFile(path + "/Contents/MacOS/Tessaly", "");
    writeFile(path + "/Contents/MacOS/tessaly-helper", "");
    const CFDictionary agent{{"Label", "com.orvanne.tessaly.agent"},
                             {"BundleProgram", "Contents/MacOS/tessaly-helper"},
                             {"ProgramArguments", CFArray{"Contents/MacOS/tessaly-helper", "run"}},
                             {"RunAtLoad", true}};
    writeFile(path + "/Contents/Library/LaunchAgents/" + agentName, PropertyList::writeXml(agent));
}

void SetupFixture::installLegacyAgent() {
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
}

void SetupFixture::legacyAgentIsLoaded() {
    commands.respond({"print", legacyTarget()},
                     {0, "gui/501/com.orvanne.tessaly = {\n\tstate = running\n}\n"});
    commands.respond({"bootout", legacyTarget()}, {0, ""}, [this] {
        stopHelper();
        legacyAgentIsNotLoaded();
    });
}

void SetupFixture::legacyAgentIsNotLoaded() {
    commands.respond(
        {"print", legacyTarget()},
        {113, "Bad request.\nCould not find service \"com.orvanne.tessaly\" in domain for user gui: " +
                  std::to_string(uid) + "\n"});
}

void SetupFixture::storeChoice(double volume, double unmutedVolume) {
    PreferenceStore(audioFile).save(AudioPreference::make(volume, unmutedVolume));
}

SetupPlatform SetupFixture::platform() {
    return SetupPlatform{process,
                         serviceManagement,
                         commands,
                         workspace,
                         ports,
                         desktop,
                         [this](double seconds) {
                             sleeps.push_back(seconds);
                             if (onSleep) onSleep(sleeps.size());
                         },
                         paths};
}

}  // namespace tessaly::testing
