#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "ports/CoreAudio.h"
#include "session/SessionConnection.h"

namespace tessaly {

/// Core Audio answered by a running simulated session: every call is one request, its status and
/// results exactly as the session's audio server gave them. Listener blocks run on the queue they
/// were registered with. When the session goes, later calls answer kAudioHardwareNotRunningError
/// and the listeners of "srst" hear a service restart, as when the audio server itself dies.
class SessionCoreAudio : public CoreAudio {
public:
    /// 'stop': the audio server is not running.
    static constexpr OSStatus kAudioHardwareNotRunningError = static_cast<OSStatus>(fourCharCode("stop"));

    explicit SessionCoreAudio(std::shared_ptr<SessionConnection> connection);
    ~SessionCoreAudio() override;

    OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            std::uint32_t& outDataSize) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize,
                                        std::optional<CFValue>& outObject) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize, std::uint32_t& outValue) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize, AudioObjectID* outData) override;
    OSStatus AudioHardwareCreateProcessTap(const CATapDescription& description,
                                           AudioObjectID& outTapID) override;
    OSStatus AudioHardwareDestroyProcessTap(AudioObjectID tapID) override;
    OSStatus AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                AudioObjectID& outDeviceID) override;
    OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 RunLoop& dispatchQueue,
                                                 AudioObjectPropertyListenerBlock block) override;
    OSStatus AudioObjectRemovePropertyListenerBlock(AudioObjectID object,
                                                    const AudioObjectPropertyAddress& address,
                                                    RunLoop& dispatchQueue,
                                                    const AudioObjectPropertyListenerBlock& block) override;

private:
    struct Listener {
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        RunLoop* queue;
        AudioObjectPropertyListenerBlock block;
    };
    // Shared with the connection's reader thread, which looks listeners up to deliver events.
    struct Listeners {
        std::mutex mutex;
        std::map<std::uint32_t, Listener> registered;
        std::uint32_t nextID = 1;
    };

    // Sends one call; nothing when the session is gone.
    std::optional<std::string> call(SessionProtocol::Operation operation,
                                    const SessionFrame::Writer& arguments);

    std::shared_ptr<SessionConnection> connection_;
    std::shared_ptr<Listeners> listeners_;
};

}  // namespace tessaly
