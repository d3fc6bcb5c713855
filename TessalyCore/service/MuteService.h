#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
#include "service/MomentaryFailure.h"
#include "service/MuteGuard.h"
#include "service/PreferenceSaver.h"
#include "service/PreviewHold.h"
#include "service/StatusServer.h"

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

/// The helper's running core: runs and stops the helper, keeps the mute guard engaged exactly while
/// the remembered choice is silence (and the previews can be driven), and drives the preview
/// controller. The guard, the saving of the choice and the status port are types of their own.
/// Everything runs on the main thread.
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
    const AudioPreference& preference() const { return saver_.preference(); }
    const std::optional<std::string>& previewError() const { return previewError_; }
    const std::optional<std::string>& persistenceError() const { return saver_.error(); }
    bool preferenceDirty() const { return saver_.dirty(); }
    bool isRunning() const { return running_; }
    double pollInterval() const { return pollInterval_; }
    bool guardEngaged() const { return guard_.engaged(); }
    bool holdActive() const { return hold_.active(platform_.runLoop.now()); }
    const std::map<AudioObjectID, MuteTap>& processTaps() const { return guard_.processTaps(); }
    const PreviewController* controller() const { return controller_.get(); }

private:
    using Action = std::function<void()>;

    void startStatusServer();
    void listen(AudioObjectPropertySelector selector, Action action);
    void refresh();
    /// A failed pass: kept for a moment's failure, released and reported once it lasts or when
    /// the player does not look as expected.
    void passFailed(const std::exception& error);
    /// Engages the guard while the choice is mute or a new preview is held, releases it otherwise.
    void applyGuard();
    /// After a Core Audio restart: forgets the dropped taps and builds the guard again.
    void rebuildGuard();
    void releaseGuardQuietly();
    /// At an audible choice, silences Quick Look until a pass has restored a preview that may
    /// be playing at its player's own level.
    void holdNewPreview();
    void requestRefresh(const std::string& notification);
    void userChose(const AudioPreference& choice);
    std::optional<std::string> flush();
    void reportPreviewError(const std::string& message);
    void resetController();
    void choosePollInterval();
    [[noreturn]] void fail(const std::string& description);
    /// `action` wrapped so that it does nothing once this service is gone.
    Action guarded(std::function<void(MuteService&)> action);

    MuteServicePlatform platform_;
    PreferenceSaver saver_;
    std::optional<PreviewController::HostPIDs> hostPIDs_;
    std::string portName_;
    std::unique_ptr<PreviewController> controller_;
    std::optional<std::string> previewError_;
    bool running_ = false;
    bool refreshQueued_ = false;
    // When the follow-up refreshes already asked for are due.
    std::vector<double> followUps_;
    std::unique_ptr<RunLoopTimer> pollTimer_;
    double pollInterval_ = 2.0;
    MuteGuard guard_;
    PreviewHold hold_;
    MomentaryFailure momentary_;
    /// Whether a pass has succeeded since this helper started.
    bool passedOnce_ = false;
    StatusServer statusServer_;
    std::vector<std::pair<AudioObjectPropertySelector, AudioObjectPropertyListenerBlock>> listeners_;
    std::vector<std::unique_ptr<SignalSource>> signals_;
    std::shared_ptr<MuteService*> self_;
};

}  // namespace tessaly
