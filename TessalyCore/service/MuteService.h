#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/AudioProcess.h"
#include "audio/MuteTap.h"
#include "foundation/Version.h"
#include "ports/Accessibility.h"
#include "ports/CoreAudio.h"
#include "ports/Log.h"
#include "ports/MessagePorts.h"
#include "ports/RunLoop.h"
#include "ports/Workspace.h"
#include "preference/AudioPreference.h"
#include "preference/PreferenceStore.h"
#include "preview/PreviewController.h"
#include "service/AudioStatus.h"
#include "service/MuteStatus.h"

namespace tessaly {

/// The services the mute service runs on, built by the helper's composition root.
struct MuteServicePlatform {
    CoreAudio& audio;
    Accessibility& accessibility;
    Workspace& workspace;
    RunLoop& runLoop;
    MessagePorts& messagePorts;
    Log& log;
    /// getpid().
    std::function<ProcessID()> processID;
    /// Ends the process with the status; must not return.
    std::function<void(int)> exitProcess;
};

/// The helper's running core. It holds the remembered choice, keeps the mute guard engaged exactly
/// while the choice is silence (and the previews can be driven), drives the preview controller,
/// saves the user's changes, and serves the status port. Everything runs on the main thread.
class MuteService {
public:
    /// The version of the helper and of its status protocol.
    static constexpr std::string_view version = tessaly::version;
    /// The name of the local status port.
    static constexpr std::string_view defaultPortName = "com.orvanne.tessaly";

    MuteService(MuteServicePlatform platform, PreferenceStore store,
                std::optional<PreviewController::HostPIDs> hostPIDs = std::nullopt,
                std::string portName = std::string(defaultPortName));
    ~MuteService();
    MuteService(const MuteService&) = delete;
    MuteService& operator=(const MuteService&) = delete;

    /// start(), serve until SIGTERM, SIGINT or a stop request, then stop(). Throws what start() throws.
    void run();
    /// Loads and saves the choice, opens the status port, listens to Core Audio, creates the preview
    /// controller and the poll timer, and refreshes once. On failure nothing is left running.
    void start();
    /// Writes a pending choice and tears everything down. Does nothing when not running.
    void stop();
    /// The status record, with the guard read back from Core Audio. Throws when it cannot be built.
    AudioStatus status();

    // What tests and the status record read.
    const AudioPreference& preference() const { return preference_; }
    const std::optional<std::string>& previewError() const { return previewError_; }
    const std::optional<std::string>& persistenceError() const { return persistenceError_; }
    bool preferenceDirty() const { return preferenceDirty_; }
    bool isRunning() const { return running_; }
    double pollInterval() const { return pollInterval_; }
    bool guardEngaged() const { return bundleTap_.has_value(); }
    const std::map<AudioObjectID, MuteTap>& processTaps() const { return processTaps_; }
    const PreviewController* controller() const { return controller_.get(); }

private:
    using Action = std::function<void()>;

    void startStatusServer();
    std::optional<std::string> handleRequest(std::int32_t messageID);
    void listen(AudioObjectPropertySelector selector, Action action);
    void refresh();
    void requestRefresh(const std::string& notification);
    void userChose(const AudioPreference& choice);
    void setGuard(bool enabled);
    std::vector<AudioProcess> reconcile();
    void releaseTaps();
    void savePreference();
    void reportPreviewError(const std::string& message);
    void resetController();
    void choosePollInterval();
    [[noreturn]] void fail(const std::string& description);
    std::optional<MuteStatus> guardStatus();
    /// `action` wrapped so that it does nothing once this service is gone.
    Action guarded(std::function<void(MuteService&)> action);

    MuteServicePlatform platform_;
    PreferenceStore store_;
    std::optional<PreviewController::HostPIDs> hostPIDs_;
    std::string portName_;
    AudioPreference preference_ = AudioPreference::defaultPreference();
    std::unique_ptr<PreviewController> controller_;
    std::optional<std::string> previewError_;
    std::optional<std::string> persistenceError_;
    bool preferenceDirty_ = false;
    std::uint64_t saveGeneration_ = 0;
    bool running_ = false;
    bool refreshQueued_ = false;
    std::unique_ptr<RunLoopTimer> pollTimer_;
    double pollInterval_ = 2.0;
    std::optional<MuteTap> bundleTap_;
    std::map<AudioObjectID, MuteTap> processTaps_;
    std::unique_ptr<LocalMessagePort> messagePort_;
    std::unique_ptr<MessagePortRunLoopSource> messageSource_;
    std::vector<std::pair<AudioObjectPropertySelector, AudioObjectPropertyListenerBlock>> listeners_;
    std::vector<std::unique_ptr<SignalSource>> signals_;
    std::shared_ptr<MuteService*> self_;
};

}  // namespace tessaly
